#!/system/bin/sh
# shellcheck shell=sh
# The root manager's Action button: velmora's state for a person, in the
# phone's language (Chinese for a zh* locale, English otherwise), on standard
# output (the only stream shown; the exit status is ignored). A velmora that
# has stopped is started again by start.sh, as at boot, and looked at once
# more two seconds later. velmora's own reports are quoted as they are.
case $0 in */*) MODDIR=${0%/*} ;; *) MODDIR=. ;; esac
MODDIR=$(cd "$MODDIR" && pwd)  # named to the user below
locale=$(/system/bin/getprop persist.sys.locale)  # what the owner chose; else the phone's own
[ -n "$locale" ] || locale=$(/system/bin/getprop ro.product.locale)

get() {  # get KEY: its value in the last status
  printf '%s\n' "$state" | sed -n "s/^$1=//p"
}

say() {  # say ENGLISH CHINESE: the line in the phone's language
  case $locale in zh*) echo "$2" ;; *) echo "$1" ;; esac
}

named() {  # named KEY: its value, a word of velmoractl's in Chinese where the phone is
  value=$(get "$1")
  case $locale/$1=$value in
    zh*/screen=on | zh*/target=screen\ on) value=亮屏 ;;
    zh*/screen=off | zh*/target=screen\ off) value=息屏 ;;
    zh*/target=night\ window) value=夜间时段 ;;
    zh*/log=on) value=开 ;;
    zh*/log=off) value=关 ;;
  esac
  echo "$value"
}

state=$(sh "$MODDIR/status.sh")
if [ "$(get running)" = no ]; then
  report=$(get last_report)
  say "velmora was not running${report:+: $report}" "velmora 没有在运行${report:+：$report}"
  say "Starting it again ..." "正在重新启动 ..."
  sh "$MODDIR/start.sh"
  sleep 2
  state=$(sh "$MODDIR/status.sh")
  if [ "$(get running)" = no ]; then
    reason=$(get settings)
    [ "$reason" = ok ] && reason=$(get last_report)
    say "It stopped again: $reason" "它又停止了：$reason"
    say "Fix 配置 in $MODDIR, then press Action." "请修正 $MODDIR 里的 配置，然后再按一次这个按钮。"
  fi
fi
pid=$(get pid)  # set while velmora runs
since=$(get since)  # unknown when its pid file is gone
[ -n "$pid" ] && say "velmora runs${since:+ since $since} (pid $pid)." "velmora ${since:+自 $since 起}运行中（pid $pid）。"
echo
say "Battery   $(get status), $(get battery_C) °C; board $(get board_C) °C; screen $(get screen)" \
  "电池      $(get status)，$(get battery_C) °C；主板 $(get board_C) °C；屏幕 $(named screen)"
if [ "$(get settings)" = ok ]; then
  say "Target    $(get target_C) °C ($(get target))" "目标      $(get target_C) °C（$(named target)）"
else
  say "Target    none: 配置 is damaged ($(get settings))${pid:+; velmora stops at its next cycle}" \
    "目标      无：配置 已损坏（$(get settings)）${pid:+；velmora 会在下一个周期停止}"
fi
say "Limit     $(get limit_mA) mA, node mode $(get limit_mode)" \
  "电流上限  $(get limit_mA) mA，节点权限 $(get limit_mode)"
# A damaged 配置 has no settings to show: the target line above says where it stops.
if [ "$(get settings)" = ok ]; then
  say "Settings  power $(get power) (up to $(get max_current_mA) mA), night $(get night) to $(get morning) h," \
    "设置      功率 $(get power)（最高 $(get max_current_mA) mA），晚上 $(get night) 点到早上 $(get morning) 点，"
  say "          screen on $(get on_temp_C) °C, screen off $(get off_temp_C) °C, version $(get version), model $(get model)" \
    "          亮屏温度 $(get on_temp_C) °C，息屏温度 $(get off_temp_C) °C，版本 $(get version)，机型 $(get model)"
fi
say "Log       $(get log), $(($(get log_bytes) / 1024)) KiB" "日志      $(named log)，$(($(get log_bytes) / 1024)) KiB"
[ -n "$(get log_last)" ] && say "          last: $(get log_last)" "          最后一行：$(get log_last)"
exit 0
