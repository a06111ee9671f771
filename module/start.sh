#!/system/bin/sh
# shellcheck shell=sh
# Starts velmora, one per module, in the background, in the phone's time zone,
# and supervises it: its reports go to velmora.err beside it, stamped with the
# phone's local time and kept to at most two files of 500 lines; the module's
# description says, in Chinese and English, since when it runs and, when it
# ends, its last report.
# Whenever velmora ends (killed, stopped by a damaged 配置, crashed), the charge
# node is put back as the kernel had it before velmora's first write this boot,
# if that could be kept. Run by service.sh after boot and by action.sh to start
# it again.
MODDIR=${0%/*}
err=$MODDIR/velmora.err
pidfile=$MODDIR/velmora.pid
max_lines=500

now() {  # the phone's local time; BusyBox's own date would print GMT
  /system/bin/date "$@"
}

describe() {  # sets the description the root manager shows
  text=$(printf '%s' "$1" | sed 's/[|&\\]/\\&/g')
  sed -i "s|^description=.*|description=$text|" "$MODDIR/module.prop"
}

# One velmora per module: velmoractl takes the module's start lock on
# descriptor 9, which this start's supervisor and velmora inherit and hold
# until the last of them ends, however it ends. Another start leaves it be
# (velmora runs, or a start or stop is under way).
{
"$MODDIR/velmoractl" start-lock 9 >/dev/null || exit 0
# Detached from the caller's streams, so that whoever reads them (the Action
# button's output) is not kept waiting for velmora to end.
{ (
  exec 3>&1
  # A velmora built without Android's C library is handed the zone's rules;
  # the zone is read once here, so a zone the phone changes to is followed at
  # the next start (the next boot, or the action button after velmora stops).
  TZ=$("$MODDIR/velmoractl" zone "$(/system/bin/getprop persist.sys.timezone)" 2>&3)
  export TZ
  "$MODDIR/velmoractl" charger keep 2>&1 >/dev/null
  started=$(now '+%Y-%m-%d %H:%M')
  describe "自 $started 起运行 / Running since $started"
  "$MODDIR/velmora" 2>&1 >/dev/null &
  echo $! >"$pidfile"
  wait $!
  # velmora reports every ending of its own; a signal's it cannot.
  ended=$?
  [ "$ended" -gt 128 ] && echo "velmora: killed by signal $((ended - 128))"
) | {
  lines=$(wc -l 2>/dev/null <"$err")  # an earlier start's lines count too
  stamp() {  # stamp LINE: appends it to velmora.err in the phone's local time
    echo "$(now '+%Y-%m-%d %H:%M:%S') $1" >>"$err"
    lines=$((lines + 1))
    if [ "$lines" -ge "$max_lines" ]; then
      mv -f "$err" "$err.1"
      lines=0
    fi
  }
  last=""
  while IFS= read -r line; do
    stamp "$line"
    last=$line
  done
  # The pipe ends with velmora, whatever ended it. velmoractl's own errors
  # already start with its name.
  restored=$("$MODDIR/velmoractl" charger restore 2>&1)
  [ -n "$restored" ] && stamp "velmoractl: ${restored#velmoractl: }"
  rm -f "$pidfile"
  describe "已停止 / Stopped $(now '+%Y-%m-%d %H:%M'): ${last:-no report} (velmora.err)"
}; } </dev/null >/dev/null 2>&1 &
} 9>>"$MODDIR/velmora.lock"
