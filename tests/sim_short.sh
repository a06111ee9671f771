#!/usr/bin/env bash
# Twenty simulated minutes from 75 % under the real daemon: the regulated battery must
# peak cooler than the unregulated one, and tools/plot-log must plot every line of
# the log, those whose words hold commas too; velmora's cycle in-process agrees with it.
set -euo pipefail
sim=$1 tools=$2 out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$sim" --out "$out" --minutes 20 --speed 300 --start-soc 75 >"$out/summary" 2>/dev/null
cat "$out/summary"
awk '/^peak battery temperature/ { exit !($(NF-1) + 0 < $NF + 0) }' "$out/summary"
lines=$(wc -l <"$out/PID_log")
[ "$lines" -ge 100 ]
sed -i '2~2s/,simulated,sim$/,MI,11,v,2/' "$out/PID_log"  # legal words, with commas
VELMORA_SIM=$sim "$tools/plot-log" "$out/PID_log" "$out/log.png"
[ "$(($(wc -l <"$out/log.csv") - 1))" -eq "$lines" ]
[ -s "$out/log.png" ]
# One sweep point is the demo's regulated charge on the same settings.
"$sim" sweep --off-temps 38000 --powers 27 --minutes 20 --speed 300 --start-soc 75 \
  --stop-at 100 --start "2026-06-01 21:30:00" --screen-on-min 20 --out "$out/sweep" >"$out/sweep.txt" 2>/dev/null
peak=$(awk '/^peak battery temperature/ { print $(NF-1) }' "$out/summary")
awk -v peak="$peak" '$1 == "38.0" { d = $4 - peak; exit !(d < 0.5 && d > -0.5) }' "$out/sweep.txt"
[ -s "$out/sweep/sweep.png" ]
# check does not trust a twin of another phone.
status=0
"$sim" check "$out/PID_log" --model "$tools/../docs/other-phone.json" --out "$out/check" \
  >"$out/check.txt" 2>/dev/null || status=$?
[ "$status" -eq 2 ] && grep -q "^verdict: do not trust" "$out/check.txt"
# velmora's cycle run in-process charges as the binary under libfaketime: check's
# table on a charge from 45 % agrees within 1 % (or the table's 0.1).
"$sim" --in-process --start-soc 45 --stop-at 85 --screen-on-min 0 --out "$out/wide" >/dev/null 2>&1
for path in --in-process --speed=600; do
  "$sim" check "$out/wide/PID_log" "$path" --out "$out/check$path" >"$out/check$path.txt" 2>/dev/null
done
paste -d '|' "$out/check--in-process.txt" "$out/check--speed=600.txt" | awk -F '|' '
  /^(minutes to|peak)/ { n = split($1, a, " "); m = split($2, b, " "); rows++
                         d = a[n] - b[m]; if (d * d > 0.01 && d * d > (0.01 * b[m]) ^ 2) { print; bad = 1 } }
  END { exit bad || rows < 5 }'
# A fit needs half an hour of charging and a log of velmora's.
for log in "$out/PID_log" "$out/summary"; do
  if "$sim" fit "$log" 2>"$out/error"; then exit 1; fi
  grep -qE "minutes of charging; a fit needs 30|is not velmora's log" "$out/error"
done
# A malformed or out-of-range option is named in the error.
# shellcheck disable=SC2086  # the words are the options
for args in "--speed abc" "--ambient" "--efficiency 2" "--start 2026-13-01"; do
  if "$sim" $args 2>"$out/error"; then exit 1; fi
  grep -q -- "^${args%% *}: " "$out/error"
done
