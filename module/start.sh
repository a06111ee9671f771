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
# it again. What keeps it from starting is said on standard output.
# shellcheck disable=SC2154  # the *_file names come from velmoractl schema
case $0 in */*) MODDIR=${0%/*} ;; *) MODDIR=. ;; esac
MODDIR=$(cd "$MODDIR" && pwd)  # the supervisor runs this file again by its path
# velmora's own names for the module's files (velmoractl schema: plain words).
eval "$("$MODDIR/velmoractl" schema | grep -E '^(err|older_err|pid|start_lock)_file=')"
err=$MODDIR/$err_file
pidfile=$MODDIR/$pid_file
lock=$MODDIR/$start_lock_file
max_lines=500

now() {  # the phone's local time; BusyBox's own date would print GMT
  /system/bin/date "$@"
}

describe() {  # sets the description the root manager shows; why it could not, on stdout
  "$MODDIR/velmoractl" describe "$1" 2>&1
}

# Whether the module's file FILE may be opened: a regular file or missing,
# so never written through a link nor waited on as a FIFO; why not, on stdout.
regular() {  # regular FILE
  "$MODDIR/velmoractl" regular "$1"
}

if [ "$1" = --supervise ]; then
  # The supervisor, in a session of its own (see below), holding the start
  # lock on descriptor 9 with velmora.
  (
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
    velmora=$!
    regular "$pidfile" && echo "$velmora" >"$pidfile"
    wait "$velmora"
    # velmora reports every ending of its own; a signal's it cannot.
    ended=$?
    [ "$ended" -gt 128 ] && echo "velmora: killed by signal $((ended - 128))"
  ) | {
    lines=0
    regular "$err" >/dev/null && lines=$(wc -l 2>/dev/null <"$err")  # an earlier start's lines count too
    stamp() {  # stamp LINE: appends it to velmora.err in the phone's local time
      regular "$err" >/dev/null || return
      echo "$(now '+%Y-%m-%d %H:%M:%S') $1" >>"$err"
      lines=$((lines + 1))
      if [ "$lines" -ge "$max_lines" ]; then
        regular "$MODDIR/$older_err_file" >/dev/null && mv -f "$err" "$MODDIR/$older_err_file"
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
    failed=$(describe "已停止 / Stopped $(now '+%Y-%m-%d %H:%M'): ${last:-no report} ($err_file)")
    [ -n "$failed" ] && stamp "$failed"
  }
  exit 0
fi

# The lock is opened by this shell, so that the supervisor inherits it; a
# FIFO in its place would keep the start waiting for good.
if ! why=$(regular "$lock"); then
  echo "velmora not started: $why"
  describe "已停止 / Stopped: $why (velmora not started)" >/dev/null
  exit 1
fi
# One velmora per module: velmoractl takes the module's start lock on
# descriptor 9, which this start's supervisor and velmora inherit and hold
# until the last of them ends, however it ends. Another start leaves it be
# (velmora runs, or a start or stop is under way).
{
  "$MODDIR/velmoractl" start-lock 9 || exit 0
  # The supervisor and velmora leave this start's session and process group
  # (setsid), so that whatever started it (a terminal that closes, a manager
  # that ends what its Action started) reaches neither; detached from the
  # caller's streams, so that whoever reads them (the Action button's output)
  # is not kept waiting for velmora to end.
  setsid sh "$MODDIR/start.sh" --supervise </dev/null >/dev/null 2>&1 &
} 9>>"$lock"
