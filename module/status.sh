#!/system/bin/sh
# shellcheck shell=sh
# velmora's state now, as key=value lines: the one source that action.sh and
# the settings page read. Cheap: no waiting, and every file is read bounded.
#   running, pid, since        whether velmora runs, its pid, since when (local time)
#   last_report                velmora.err's last line (when it has stopped)
#   status                     the battery status's first word, "none" without the node
#   battery_C, board_C         temperatures in °C, "none" without the node
#   screen                     on or off
#   target, target_C           which target applies now (screen on, night window,
#                              screen off) and its value in °C
#   limit_mA, limit_mode       the charge node's limit and its permission bits
#   settings                   ok, or what velmora would stop at
#   settings_end_byte          where the eighth entry ends; notes follow it
#   log_switch ... model       the eight settings as written
#   max_current_mA             the largest limit the power setting allows
#   on_temp_C, off_temp_C      the two targets in °C
#   log, log_bytes, log_last   the log switch on or off, PID_log's size and last line
# Root managers' BusyBox runs it as sh in standalone mode; a plain root shell
# hands it over to that BusyBox.
case $0 in */*) MODDIR=${0%/*} ;; *) MODDIR=. ;; esac
if [ -z "$VELMORA_BUSYBOX" ]; then
  for busybox in /data/adb/ksu/bin/busybox /data/adb/ap/bin/busybox /data/adb/magisk/busybox; do
    [ -x "$busybox" ] && VELMORA_BUSYBOX=$busybox ASH_STANDALONE=1 exec "$busybox" sh "$0" "$@"
  done
fi

battery=/sys/class/power_supply/battery
board=/sys/class/thermal/thermal_message/board_sensor_temp
backlight=/sys/class/backlight/panel0-backlight/brightness
[ -e "$backlight" ] || backlight=/sys/class/leds/lcd-backlight/brightness
charge=$battery/constant_charge_current_max
[ -e "$charge" ] || charge=$battery/constant_charge_current
pidfile=$MODDIR/velmora.pid
log=$MODDIR/PID_log

word() {  # word FILE: its first word, or "none"
  w=$(head -c 64 "$1" 2>/dev/null | tr ' \t\r' '\n' | sed -n '/./{p;q}')
  echo "${w:-none}"
}

pid=$(head -c 16 "$pidfile" 2>/dev/null)
if [ -n "$pid" ] && grep -q velmora "/proc/$pid/cmdline" 2>/dev/null; then
  echo running=yes
  echo "pid=$pid"
  echo "since=$(/system/bin/date -r "$pidfile" '+%Y-%m-%d %H:%M')"
else
  echo running=no
  echo "last_report=$(tail -n 1 "$MODDIR/velmora.err" 2>/dev/null)"
fi
echo "status=$(word $battery/status)"

# The settings as velmora reads them, then every number that needs arithmetic.
head -c 4096 "$MODDIR/配置" 2>/dev/null | LC_ALL=C awk \
  -v battery="$(word $battery/temp)" -v board="$(word $board)" -v screen="$(word "$backlight")" \
  -v hour="$(/system/bin/date +%H)" -v limit="$(word "$charge")" '
  function celsius(value, per_degree) {
    return value ~ /^-?[0-9]+$/ ? sprintf("%.1f", value / per_degree) : "none"
  }
  BEGIN { RS = "\001" }
  { text = text $0 }
  END {
    ws = "^[ \t\n\v\f\r]*"
    split("日志开关 功率 晚上 早上 亮屏温度 息屏温度 版本 机型", key, " ")
    split("log_switch power night morning on_temp_mC off_temp_mC version model", name, " ")
    rest = text
    settings = text == "" ? "missing or empty" : "ok"
    for (i = 1; i <= 8 && settings == "ok"; i++) {
      if (i > 1) sub(ws, "", rest)
      if (substr(rest, 1, length(key[i]) + 1) != key[i] "=") {
        settings = "entry " i " is not " key[i] "="
        break
      }
      rest = substr(rest, length(key[i]) + 2)
      if (!match(rest, i <= 6 ? ws "[-+]?[0-9]+" : ws "[^ \t\n\v\f\r]+")) {
        settings = key[i] "= has no " (i <= 6 ? "number" : "word")
        break
      }
      value[i] = substr(rest, 1, RLENGTH)
      sub(ws, "", value[i])
      rest = substr(rest, RLENGTH + 1)
      if (i <= 6 && (value[i] + 0 > 2147483647 || value[i] + 0 < -2147483648))
        settings = key[i] "= is out of range"
    }
    on = screen != "none" && screen != 0
    night = value[3] + 0; morning = value[4] + 0; h = hour + 0
    in_night = night < morning ? night <= h && h <= morning : night > morning ? h >= night || h <= morning : 0
    print "battery_C=" celsius(battery, 10)
    print "board_C=" celsius(board, 1000)
    print "screen=" (on ? "on" : "off")
    if (settings == "ok") {
      target = on ? "screen on" : in_night ? "night window" : "screen off"
      print "target=" target
      print "target_C=" celsius(on ? value[5] : in_night ? 39000 : value[6], 1000)
    }
    print "limit_mA=" (limit ~ /^-?[0-9]+$/ ? int(limit / 1000) : "none")
    print "settings=" settings
    if (settings == "ok") print "settings_end_byte=" length(text) - length(rest)
    for (i = 1; i <= 8; i++) print name[i] "=" value[i]
    if (settings == "ok") {
      print "max_current_mA=" int(1833 * value[2] * 100 / 1000)
      print "on_temp_C=" celsius(value[5], 1000)
      print "off_temp_C=" celsius(value[6], 1000)
    }
    print "log=" (settings == "ok" && value[1] + 0 == 1 ? "on" : "off")
  }'
echo "limit_mode=0$(stat -c %a "$charge" 2>/dev/null)"
echo "log_bytes=$(stat -c %s "$log" 2>/dev/null || echo 0)"
echo "log_last=$(tail -n 1 "$log" 2>/dev/null)"
