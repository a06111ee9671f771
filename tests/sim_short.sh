#!/usr/bin/env bash
# Twenty simulated minutes under the real daemon: the regulated battery must
# peak cooler than the unregulated one, and tools/plot-log must plot the log.
set -euo pipefail
sim=$1 tools=$2 out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$sim" --out "$out" --minutes 20 --speed 300 >"$out/summary" 2>/dev/null
cat "$out/summary"
awk '/^peak battery temperature/ { exit !($(NF-1) + 0 < $NF + 0) }' "$out/summary"
lines=$(wc -l <"$out/PID_log")
[ "$lines" -ge 100 ]
"$tools/plot-log" "$out/PID_log" "$out/log.png"
[ "$(($(wc -l <"$out/log.csv") - 1))" -eq "$lines" ]
[ -s "$out/log.png" ]
# A malformed or out-of-range option is named in the error.
# shellcheck disable=SC2086  # the words are the options
for args in "--speed abc" "--ambient" "--efficiency 2" "--start 2026-13-01"; do
  if "$sim" $args 2>"$out/error"; then exit 1; fi
  grep -q -- "^${args%% *}: " "$out/error"
done
