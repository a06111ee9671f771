# shellcheck shell=sh
# Run by the root manager while it installs velmora, with MODPATH the new
# module directory and ARCH the device's architecture. Upgrades never lose the
# user's settings: an installed module's 配置 replaces the default one.
# shellcheck disable=SC2154  # ARCH and MODPATH come from the root manager, the rest from the schema

if [ "$ARCH" != arm64 ]; then
  abort "! velmora runs on arm64 phones only; this phone is $ARCH"
fi
set_perm_recursive "$MODPATH" 0 0 0755 0644
set_perm "$MODPATH/velmoractl" 0 0 0755
# velmora's own names (velmoractl schema: plain words), as start.sh takes them.
eval "$("$MODPATH/velmoractl" schema | grep -E '^(executables|module_dir|settings_file|log_file)=')"
for file in $(echo "$executables" | tr , ' '); do
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
if [ -f "$module_dir/$settings_file" ]; then
  cp -f "$module_dir/$settings_file" "$MODPATH/$settings_file"
  ui_print "- Kept your settings from the installed velmora"
else
  ui_print "- Installed the default settings: $MODPATH/$settings_file"
fi
if [ -f "$module_dir/$log_file" ]; then
  cp -f "$module_dir/$log_file" "$MODPATH/$log_file"
fi
