#!/usr/bin/env bash
# velmora-sim tune on a log of two charges of another phone (docs/other-phone.json):
# bad logs and several actors as rows of a table, each with its last line and 配置
# left as it was; and the zip's AArch64 build, alone with the log in a bare chroot
# under qemu (as root), recommending what the host build does.
#   tests/tune_test.sh VELMORA_SIM ZIP SOURCE_DIR
set -euo pipefail
sim=$1 zip=$2 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
for charge in "2026-06-01 21:30:00 15" "2026-06-02 20:00:00 25"; do
  read -r day clock soc <<<"$charge"
  "$sim" --model "$3"/docs/other-phone.json --in-process --minutes 240 --start "$day $clock" \
    --start-soc "$soc" --out "$work/$day" >/dev/null 2>&1
  cat "$work/$day/PID_log" >>"$work"/two-days
done
settings=$(printf '日志开关=1\n功率=27\n晚上=22\n早上=7\n亮屏温度=40000\n息屏温度=38000\n版本=v1\n机型=MI\n')

tune() {  # tune NAME [OPTIONS]: tunes $work/NAME/PID_log; its last line, and its status in $work/NAME/status
  local status=0
  "$sim" tune "$work/$1/PID_log" "${@:2}" >"$work/$1/out" 2>"$work/$1/err" || status=$?
  echo $status >"$work/$1/status"
  tail -n 1 "$work/$1/out"
}
row() {  # row NAME 'MAKE THE LOG' PATTERN [OPTIONS]: the last line matches, 配置 is untouched
  mkdir -p "$work/$1"
  printf '%s' "$settings" >"$work/$1/配置"
  (cd "$work/$1" && eval "$2")
  local last
  last=$(tune "$1" "${@:4}")
  [[ $last =~ $3 ]] || fail "$1: '$last' ($(cat "$work/$1/err"))"
  [ "$(cat "$work/$1/配置")" = "$settings" ] || fail "$1: 配置 changed"
}
recommend='^recommend off_temp=[0-9]+ power=[0-9]+ minutes_to_80=[0-9.]+ peak_C=[0-9.]+ now_minutes_to_80=[0-9.]+ now_peak_C=[0-9.]+$'
row sample 'cp ../two-days PID_log' "$recommend"
grep -q ' today$' "$work"/sample/out || fail "today's setting is not marked"
row hotter 'cp ../two-days PID_log' '^recommend off_temp=40000 ' --max-peak 41
row none ':' '^no-recommendation reason=no-log$'
row empty ': >PID_log' '^no-recommendation reason=empty-log$'
row idle "sed 's/状态=Charging/状态=Discharging/' ../two-days >PID_log" '^no-recommendation reason=too-little-charging$'
row foreign "printf 'garbage\n\377\376\n%s\n' \"\$(head -c 90 ../two-days)\" >PID_log" \
  '^no-recommendation reason=not-velmoras-log$'
row top-off "grep -E '电量=(8[1-9]|9[0-9]|100),' ../two-days >PID_log" '^no-recommendation reason=no-charge-to-check$'
# 200 MB (a hole) before the two days, damaged lines among them: read only as far as needed.
row huge "truncate -s 200M PID_log && sed '100i garbage\n2026-06-01 21:40:00,晚上=22' ../two-days >>PID_log" \
  "^$(tail -n 1 "$work"/sample/out)\$"
[ "$(/usr/bin/time -f %M "$sim" tune "$work"/huge/PID_log 2>&1 >/dev/null | tail -n 1)" -lt 131072 ] ||
  fail "a 200 MB log takes 128 MiB or more"

# Two tunes at once: the second is told one runs; a cancelled tune leaves no lock;
# a full disk keeps the last tune.json.
"$sim" tune "$work"/sample/PID_log >/dev/null 2>&1 &
until grep -qE 'fitting|checking|sweeping' "$work"/sample/tune.stage 2>/dev/null; do sleep 0.05; done
if ! [ "$(tune sample)" = "no-recommendation reason=busy" ] || ! [ "$(cat "$work"/sample/status)" = 1 ]; then
  fail "a second tune ran beside the first"
fi
kill $!
wait $! || true
[[ $(tune sample) =~ $recommend ]] || fail "a cancelled tune left its lock"
cp "$work"/sample/tune.json "$work"/last.json
status=0
(trap '' XFSZ && ulimit -f 1 && exec "$sim" tune "$work"/sample/PID_log) >/dev/null 2>"$work"/full.err || status=$?
if ! { [ $status = 1 ] && grep -q "cannot write .*tune.json: File too large" "$work"/full.err &&
  cmp -s "$work"/sample/tune.json "$work"/last.json; }; then fail "a full disk: $(cat "$work"/full.err)"; fi

[ "$(id -u)" = 0 ] || { echo "no chroot without root: the AArch64 tune is not run"; exit 0; }
phone=$work/phone module=$work/phone/data/adb/modules/velmora
mkdir -p "$module"
cp "$work"/two-days "$module"/PID_log
unzip -q -p "$zip" velmora-sim >"$module"/velmora-sim
chmod 0755 "$module"/velmora-sim
cp /usr/bin/qemu-aarch64-static "$phone"/
phone_last=$(chroot "$phone" /qemu-aarch64-static /data/adb/modules/velmora/velmora-sim tune \
  /data/adb/modules/velmora/PID_log 2>/dev/null | tail -n 1)
host_last=$(tail -n 1 "$work"/sample/out)
echo "host:  $host_last"
echo "phone: $phone_last"
if ! { [ "$(cut -d' ' -f2,3 <<<"$phone_last")" = "$(cut -d' ' -f2,3 <<<"$host_last")" ] &&
  awk -v a="${phone_last#*minutes_to_80=}" -v b="${host_last#*minutes_to_80=}" \
    'BEGIN { exit !(a / b > 0.98 && a / b < 1.02) }'; }; then fail "the phone's tune differs from the host's"; fi
