# shellcheck shell=sh
# Run by the root manager while it installs velmora, with MODPATH the new
# module directory and ARCH the device's architecture. Upgrades never lose the
# user's settings: an installed module's 配置 replaces the default one.
# shellcheck disable=SC2154  # ARCH and MODPATH come from the root manager

if [ "$ARCH" != arm64 ]; then
  abort "! velmora runs on arm64 phones only; this phone is $ARCH"
fi
set_perm_recursive "$MODPATH" 0 0 0755 0644
for file in velmora velmoractl service.sh start.sh status.sh action.sh; do
  set_perm "$MODPATH/$file" 0 0 0755
done
# velmora would stop at its start on a phone without the nodes it needs.
if ! probe=$("$MODPATH/velmoractl" probe 2>&1); then
  abort "! velmora cannot regulate this phone: it has no ${probe##*missing=}"
fi
# A charge node that shows no limit is regulated all the same; the owner is
# told what a stop will give it instead.
note=$(printf '%s\n' "$probe" | sed -n 's/^charge_note=//p')
[ -z "$note" ] || ui_print "- $note"

# MODPATH is <adb>/modules_update/velmora; the module it replaces is <adb>/modules/velmora.
installed=${MODPATH%/*}/../modules/velmora
if [ -f "$installed/配置" ]; then
  cp -f "$installed/配置" "$MODPATH/配置"
  ui_print "- Kept your settings from the installed velmora"
else
  ui_print "- Installed the default settings: $MODPATH/配置"
fi
if [ -f "$installed/PID_log" ]; then
  cp -f "$installed/PID_log" "$MODPATH/PID_log"
fi
