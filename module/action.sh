#!/system/bin/sh
# shellcheck shell=sh
# The root manager's Action button: velmora's state for a person, on standard
# output (the only stream shown; the exit status is ignored). A velmora that
# has stopped is started again by start.sh, as at boot, and looked at once
# more two seconds later.
case $0 in */*) MODDIR=${0%/*} ;; *) MODDIR=. ;; esac
MODDIR=$(cd "$MODDIR" && pwd)  # named to the user below

get() {  # get KEY: its value in the last status
  printf '%s\n' "$state" | sed -n "s/^$1=//p"
}

state=$(sh "$MODDIR/status.sh")
if [ "$(get running)" = no ]; then
  report=$(get last_report)
  echo "velmora was not running${report:+: $report}"
  echo "Starting it again ..."
  sh "$MODDIR/start.sh"
  sleep 2
  state=$(sh "$MODDIR/status.sh")
  if [ "$(get running)" = no ]; then
    reason=$(get settings)
    [ "$reason" = ok ] && reason=$(get last_report)
    echo "It stopped again: $reason"
    echo "Fix 配置 in $MODDIR, then press Action."
  fi
fi
pid=$(get pid)  # set while velmora runs
[ -n "$pid" ] && echo "velmora runs since $(get since) (pid $pid)."
echo
echo "Battery   $(get status), $(get battery_C) °C; board $(get board_C) °C; screen $(get screen)"
if [ "$(get settings)" = ok ]; then
  echo "Target    $(get target_C) °C ($(get target))"
else
  echo "Target    none: 配置 is damaged ($(get settings))${pid:+; velmora stops at its next cycle}"
fi
echo "Limit     $(get limit_mA) mA, node mode $(get limit_mode)"
echo "Settings  power $(get power) (up to $(get max_current_mA) mA), night $(get night) to $(get morning) h,"
echo "          screen on $(get on_temp_C) °C, screen off $(get off_temp_C) °C, version $(get version), model $(get model)"
echo "Log       $(get log), $(($(get log_bytes) / 1024)) KiB"
[ -n "$(get log_last)" ] && echo "          last: $(get log_last)"
exit 0
