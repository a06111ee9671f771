#!/usr/bin/env bash
# The root-manager module: the zip's layout, modes and module.prop; the default
# settings read by the real daemon; clean shell scripts; customize.sh and
# service.sh run against stubs of the root manager and the phone.
#   tests/module_test.sh VELMORA FAKETIME_LIBRARY
set -euo pipefail
velmora=$1
faketime=$2
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

echo "-- zip layout, modes and module.prop"
"$repo"/scripts/package "$velmora" "$work"/velmora.zip >/dev/null
zipinfo "$work"/velmora.zip >"$work"/listing
for entry in "-rwxr-xr-x .* META-INF/com/google/android/update-binary" \
             "-rw-r--r-- .* META-INF/com/google/android/updater-script" \
             "-rw-r--r-- .* module.prop" "-rw-r--r-- .* customize.sh" \
             "-rwxr-xr-x .* service.sh" "-rwxr-xr-x .* start.sh" "-rwxr-xr-x .* status.sh" \
             "-rwxr-xr-x .* action.sh" "-rwxr-xr-x .* velmora" \
             "-rw-r--r-- .* 配置"; do
  grep -q -- "^$entry\$" "$work"/listing || fail "no '$entry' in the zip"
done
mkdir "$work"/unzipped
(cd "$work"/unzipped && unzip -q ../velmora.zip)
[ "$(cat "$work"/unzipped/META-INF/com/google/android/updater-script)" = "#MAGISK" ] ||
  fail "updater-script"
for key in "id=velmora" "name=velmora" "version=v[0-9]+\.[0-9]+\.[0-9]+" "versionCode=[0-9]+" \
           "author=.+" "description=.+"; do
  grep -Eq "^$key\$" "$work"/unzipped/module.prop || fail "module.prop lacks $key"
done

echo "-- the default settings, notes and all, drive the real daemon"
tree=$work/phone
mkdir -p "$tree"/sys/class/power_supply/battery "$tree"/sys/class/backlight/panel0-backlight \
         "$tree"/data/adb/modules/velmora
echo Charging >"$tree"/sys/class/power_supply/battery/status
echo 390 >"$tree"/sys/class/power_supply/battery/temp
echo 0 >"$tree"/sys/class/power_supply/battery/constant_charge_current_max
echo 0 >"$tree"/sys/class/backlight/panel0-backlight/brightness
cp "$work"/unzipped/配置 "$tree"/data/adb/modules/velmora/配置
(cd "$tree" && LD_PRELOAD=$faketime FAKETIME="@2026-06-01 23:00:00 x100" TZ=UTC \
   timeout 0.5 "$velmora" 2>"$work"/stderr) || true
# The night target is 39 °C and the battery at it: drive 25 at power 27.
[ "$(cat "$tree"/sys/class/power_supply/battery/constant_charge_current_max)" = 1237275 ] ||
  fail "default settings: $(cat "$work"/stderr)"
rm -f /dev/shm/faketime_shm_* /dev/shm/sem.faketime_sem_* 2>/dev/null || true

echo "-- shellcheck"
shellcheck "$repo"/module/*.sh \
  "$repo"/module/META-INF/com/google/android/update-binary "$repo"/scripts/* \
  "$repo"/tools/plot-log "$repo"/tests/*.sh

echo "-- customize.sh: arm64 only, and an upgrade keeps the settings"
# shellcheck disable=SC2034,SC2317  # what the sourced customize.sh uses
customize() {  # customize ARCH: runs customize.sh as a root manager does, in a subshell
  (
    ARCH=$1
    MODPATH=$work/adb/modules_update/velmora
    ui_print() { echo "$1"; }
    abort() { echo "$1"; exit 1; }
    set_perm() { chmod "$4" "$1"; }
    set_perm_recursive() { :; }
    # shellcheck disable=SC1091
    . "$repo"/module/customize.sh
  )
}
mkdir -p "$work"/adb/modules_update/velmora "$work"/adb/modules/velmora
cp -r "$work"/unzipped/. "$work"/adb/modules_update/velmora/
out=$(customize arm) && fail "customize.sh accepted arm"
[ "$out" = "! velmora runs on arm64 phones only; this phone is arm" ] || fail "refusal: $out"
printf '日志开关=1\n功率=12\n晚上=23\n早上=6\n亮屏温度=41000\n息屏温度=37000\n版本=mine\n机型=mine\n' \
  >"$work"/adb/modules/velmora/配置
customize arm64 >/dev/null || fail "customize.sh refused arm64"
cmp -s "$work"/adb/modules/velmora/配置 "$work"/adb/modules_update/velmora/配置 ||
  fail "the upgrade lost the user's settings"

if [ "$(id -u)" -ne 0 ]; then
  echo "module: skipped service.sh, status.sh and action.sh (chroot needs root)"
  exit 0
fi
phone=$work/phone-bb
module=$phone/data/adb/modules/velmora
"$repo"/scripts/lay-out-phone "$phone" Charging 0 busybox
cp "$work"/unzipped/*.sh "$work"/unzipped/module.prop "$module"/
in_phone() {  # in_phone SCRIPT: runs it in the phone, its /proc the host's in a mount namespace of its own
  # shellcheck disable=SC2016  # expanded by the inner sh
  unshare -m sh -c 'mount --rbind /proc "$1"/proc && exec chroot "$1" /bin/sh "$2"' sh "$phone" "$1" \
    </dev/null 2>/dev/null
}
# A stand-in daemon: counts its starts, reports, waits to be released, ends.
standin() {  # standin [REPORT]: the velmora that action.sh and service.sh start
  cat >"$module"/velmora <<STANDIN
#!/bin/sh
echo started >>/starts
echo "读取字符串失败: No such file or directory" >&2
while [ ! -f /release ]; do sleep 0.05; done
echo "${1:-无法打开读取配置文件: No such file or directory}" >&2
STANDIN
  chmod +x "$module"/velmora
  rm -f "$phone"/release
}
wait_for() {  # wait_for COMMAND...: up to 10 s
  for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done
  return 1
}
stopped() { grep -q '^description=Stopped' "$module"/module.prop; }

echo "-- service.sh under BusyBox: waits for boot, starts velmora once, stamps in local time"
standin
echo 0 >"$phone"/boot_completed
in_phone /data/adb/modules/velmora/service.sh >/dev/null &
sleep 0.3
[ ! -f "$phone"/starts ] || fail "started before boot completed"
echo 1 >"$phone"/boot_completed
wait_for test -f "$module"/velmora.pid || fail "not started after boot"
in_phone /data/adb/modules/velmora/service.sh >/dev/null  # a second run must not start another
grep -q '^description=Running since 2031-01-02 03:04:' "$module"/module.prop ||
  fail "no running description: $(grep description "$module"/module.prop)"
touch "$phone"/release
wait_for stopped || fail "no stopped description"
grep -q '^description=Stopped 2031-01-02 03:04: 无法打开读取配置文件: No such file or directory\. See velmora.err' \
  "$module"/module.prop || fail "description: $(grep description "$module"/module.prop)"
[ "$(wc -l <"$phone"/starts)" -eq 1 ] || fail "started $(wc -l <"$phone"/starts) times"
[ "$(grep -c '^2031-01-02 03:04:05 ' "$module"/velmora.err)" -eq 2 ] ||
  fail "velmora.err is not two reports in local time: $(cat "$module"/velmora.err)"

echo "-- action.sh: starts a stopped velmora again and says how it went"
standin
out=$(in_phone /data/adb/modules/velmora/action.sh)
expect() {  # expect TEXT: a line of action.sh's output
  printf '%s\n' "$out" | grep -qF -- "$1" || fail "action.sh lacks '$1':"$'\n'"$out"
}
expect "velmora was not running: 2031-01-02 03:04:05 无法打开读取配置文件: No such file or directory"
expect "velmora runs since 2031-01-02 03:04 (pid "
expect "Battery   Charging, 37.8 °C; board 38.0 °C; screen off"
expect "Target    39.0 °C (night window)"
expect "Limit     3000 mA, node mode 0644"
expect "Settings  power 27 (up to 4949 mA), night 22 to 7 h,"
out=$(in_phone /data/adb/modules/velmora/action.sh)  # running: only looks
printf '%s\n' "$out" | grep -q "Starting" && fail "restarted a running velmora"
[ "$(wc -l <"$phone"/starts)" -eq 2 ] || fail "started $(wc -l <"$phone"/starts) times"
touch "$phone"/release
wait_for stopped || fail "no stopped description"
standin "读取配置数据失败: Success"
touch "$phone"/release  # the restarted velmora stops at once
out=$(in_phone /data/adb/modules/velmora/action.sh)
expect "It stopped again: 2031-01-02 03:04:05 读取配置数据失败: Success"
expect "Fix 配置 in /data/adb/modules/velmora, then press Action."

echo "-- status.sh: what velmora would make of the phone and its settings"
status_of() {  # status_of KEY: its value from status.sh, run from the module directory as Magisk does
  # shellcheck disable=SC2016  # expanded by the inner sh
  unshare -m sh -c 'mount --rbind /proc "$1"/proc && exec chroot "$1" /bin/sh -c \
    "cd /data/adb/modules/velmora && sh ./status.sh"' sh "$phone" 2>/dev/null | sed -n "s/^$1=//p"
}
settings='日志开关=1\n功率=27\n晚上=22\n早上=7\n亮屏温度=40000\n息屏温度=38000\n版本=v1\n机型=MI11\n'
while IFS='|' read -r name text key value; do
  printf '%b' "$text" >"$module"/配置
  [ "$(status_of "$key")" = "$value" ] || fail "$name: $key=$(status_of "$key"), not $value"
done <<ROWS
valid|$settings|settings|ok
notes kept after the eighth|${settings}notes|settings_end_byte|103
one line with spaces|日志开关=1 功率=27 晚上=22 早上=7 亮屏温度=40000 息屏温度=38000 版本=v1 机型=MI11|power|27
CRLF|${settings//\\n/\\r\\n}|model|MI11
byte-order mark|\xef\xbb\xbf$settings|settings|entry 1 is not 日志开关=
blank first line|\\n$settings|settings|entry 1 is not 日志开关=
space before =|日志开关 =1|settings|entry 1 is not 日志开关=
a word for a number|日志开关=on|settings|日志开关= has no number
past int32|日志开关=1 功率=2147483648|settings|功率= is out of range
seven entries|日志开关=1 功率=27 晚上=22 早上=7 亮屏温度=40000 息屏温度=38000 版本=v1|settings|entry 8 is not 机型=
missing||settings|missing or empty
screen off at 03 h, night window 22..7|$settings|target|night window
night equal to morning|${settings/晚上=22/晚上=7}|target_C|38.0
ROWS
echo 120 >"$phone"/sys/class/backlight/panel0-backlight/brightness
[ "$(status_of target)/$(status_of target_C)" = "screen on/40.0" ] || fail "screen on: $(status_of target)"
echo "module: all checks passed"
