#!/system/bin/sh
# shellcheck shell=sh disable=SC2154
# (SC2154: the s_KEY variables are set by look, from velmoractl status.)
# The root manager's Action button: velmora's state for a person, in the
# phone's language (Chinese for a zh* locale, English otherwise), on standard
# output (the only stream shown; the exit status is ignored). A velmora that
# has stopped is started again by start.sh, as at boot, and looked at once
# more two seconds later. velmora's own reports are quoted as they are.
case $0 in */*) MODDIR=${0%/*} ;; *) MODDIR=. ;; esac
MODDIR=$(cd "$MODDIR" && pwd)  # named to the user below
locale=$(/system/bin/getprop persist.sys.locale)  # what the owner chose; else the phone's own
[ -n "$locale" ] || locale=$(/system/bin/getprop ro.product.locale)

look() {  # look: velmora's state now, each key=value line of status.sh as the variable s_KEY
  state=$(sh "$MODDIR/status.sh")
  while IFS= read -r line; do
    key=${line%%=*}
    case $key in '' | *[!a-zA-Z_]*) continue ;; esac  # a key is a name: its value is never run
    eval "s_$key=\${line#*=}"
  done <<EOF
$state
EOF
}

say() {  # say ENGLISH CHINESE: the line in the phone's language
  case $locale in zh*) echo "$2" ;; *) echo "$1" ;; esac
}

named() {  # named KEY VALUE: a word of velmoractl's, in Chinese where the phone is (as the page's texts-zh.js)
  case $locale/$1=$2 in
    zh*/screen=on | zh*/target=screen\ on) echo 亮屏 ;;
    zh*/screen=off | zh*/target=screen\ off) echo 息屏 ;;
    zh*/target=night\ window) echo 夜间时段 ;;
    zh*/log=on) echo 开 ;;
    zh*/log=off) echo 关 ;;
    *) echo "$2" ;;
  esac
}

look
if [ "$s_running" = no ]; then
  say "velmora was not running${s_last_report:+: $s_last_report}" "velmora 没有在运行${s_last_report:+：$s_last_report}"
  say "Starting it again ..." "正在重新启动 ..."
  refused=$(sh "$MODDIR/start.sh" 2>&1)  # why it could not start, if it could not
  sleep 2
  look
  if [ "$s_running" = no ]; then
    reason=$s_settings
    [ "$reason" = ok ] && reason=${refused:-$s_last_report}
    say "It stopped again: $reason" "它又停止了：$reason"
    say "Fix 配置 in $MODDIR, then press Action." "请修正 $MODDIR 里的 配置，然后再按一次这个按钮。"
  fi
fi
# since is unknown when velmora's pid file is gone.
[ -n "$s_pid" ] && say "velmora runs${s_since:+ since $s_since} (pid $s_pid)." "velmora ${s_since:+自 $s_since 起}运行中（pid $s_pid）。"
echo
say "Battery   $s_status, $s_battery_C °C; board $s_board_C °C; screen $s_screen" \
  "电池      $s_status，$s_battery_C °C；主板 $s_board_C °C；屏幕 $(named screen "$s_screen")"
if [ "$s_settings" = ok ]; then
  say "Target    $s_target_C °C ($s_target)" "目标      $s_target_C °C（$(named target "$s_target")）"
else
  say "Target    none: 配置 is damaged ($s_settings)${s_pid:+; velmora stops at its next cycle}" \
    "目标      无：配置 已损坏（$s_settings）${s_pid:+；velmora 会在下一个周期停止}"
fi
say "Limit     $s_limit_mA mA, node mode $s_limit_mode" \
  "电流上限  $s_limit_mA mA，节点权限 $s_limit_mode"
case $s_restore in  # what the charge node gets when velmora ends
  kernel) say "On stop   back to the kernel's $s_restore_mA mA, node mode $s_restore_mode" \
    "停止后    恢复内核自己的 $s_restore_mA mA，节点权限 $s_restore_mode" ;;
  highest) say "On stop   $s_restore_mA mA, velmora's highest limit (the kernel showed no limit at boot: \"$s_shown_at_boot\"), node mode $s_restore_mode" \
    "停止后    $s_restore_mA mA，velmora 的最高上限（开机时内核未给出上限：\"$s_shown_at_boot\"），节点权限 $s_restore_mode" ;;
  *) say "On stop   nothing to put back (no record from this boot): the node keeps velmora's last limit until the next boot" \
    "停止后    无法恢复（本次开机没有记录）：节点保持 velmora 最后的上限，直到下次开机" ;;
esac
# A damaged 配置 has no settings to show: the target line above says where it stops.
if [ "$s_settings" = ok ]; then
  say "Settings  power $s_power (up to $s_max_current_mA mA), night $s_night to $s_morning h," \
    "设置      功率 $s_power（最高 $s_max_current_mA mA），晚上 $s_night 点到早上 $s_morning 点，"
  say "          screen on $s_on_temp_C °C, screen off $s_off_temp_C °C, version $s_version, model $s_model" \
    "          亮屏温度 $s_on_temp_C °C，息屏温度 $s_off_temp_C °C，版本 $s_version，机型 $s_model"
fi
say "Log       $s_log, $((s_log_bytes / 1024)) KiB" "日志      $(named log "$s_log")，$((s_log_bytes / 1024)) KiB"
[ -n "$s_log_last" ] && say "          last: $s_log_last" "          最后一行：$s_log_last"
exit 0
