#!/system/bin/sh
# shellcheck shell=sh
# Started by the root manager at late start: waits for the phone to finish
# booting, then runs velmora once in the background. velmora's reports go to
# velmora.err beside it, kept to at most two files of 500 lines; when velmora
# ends, the module's description says so, with its last report.
MODDIR=${0%/*}
err=$MODDIR/velmora.err
pidfile=$MODDIR/velmora.pid
max_lines=500

until [ "$(getprop sys.boot_completed)" = 1 ]; do
  sleep 5
done

# Once only: a velmora started by an earlier run of this script keeps running.
if [ -f "$pidfile" ] && grep -q velmora "/proc/$(cat "$pidfile")/cmdline" 2>/dev/null; then
  exit 0
fi

describe() {  # sets the description the root manager shows
  text=$(printf '%s' "$1" | sed 's/[|&\\]/\\&/g')
  sed -i "s|^description=.*|description=$text|" "$MODDIR/module.prop"
}

(
  describe "Running since $(date '+%Y-%m-%d %H:%M'): keeps the battery near its target temperature while charging."
  "$MODDIR/velmora" 2>&1 >/dev/null &
  echo $! >"$pidfile"
  wait
) | {
  lines=0
  last=""
  while IFS= read -r line; do
    echo "$(date '+%Y-%m-%d %H:%M:%S') $line" >>"$err"
    last=$line
    lines=$((lines + 1))
    if [ "$lines" -ge "$max_lines" ]; then
      mv -f "$err" "$err.1"
      lines=0
    fi
  done
  rm -f "$pidfile"
  describe "Stopped $(date '+%Y-%m-%d %H:%M'): ${last:-no report}. See velmora.err in the module directory."
} &
