# shellcheck shell=sh
# Run by the root manager while it installs velmora, with MODPATH the new
# module directory and ARCH the device's architecture. Upgrades never lose the
# user's settings: an installed module's 配置 replaces the default one.
# shellcheck disable=SC2154  # ARCH and MODPATH come from the root manager

if [ "$ARCH" != arm64 ]; then
  abort "! velmora runs on arm64 phones only; this phone is $ARCH"
fi
set_perm_recursive "$MODPATH" 0 0 0755 0644
set_perm "$MODPATH/velmoractl" 0 0 0755
schema() { "$MODPATH/velmoractl" schema | sed -n "s/^$1=//p"; }  # schema KEY: velmora's own name
for file in $(schema executables | tr , ' '); do
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

# MODPATH is the pending update's directory; the module it replaces is velmora's own.
installed=$(schema module_dir)
settings=$(schema settings_file)
log=$(schema log_file)
if [ -f "$installed/$settings" ]; then
  cp -f "$installed/$settings" "$MODPATH/$settings"
  ui_print "- Kept your settings from the installed velmora"
else
  ui_print "- Installed the default settings: $MODPATH/$settings"
fi
if [ -f "$installed/$log" ]; then
  cp -f "$installed/$log" "$MODPATH/$log"
fi
