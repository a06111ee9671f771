#!/usr/bin/env bash
# The root-manager module: the zip's layout, bytes and module.prop, update.json,
# clean shell scripts, and (as root) both ways the managers unpack it, then
# update-binary and its scripts run by BusyBox in a chroot of a phone tree with
# the zip's own velmora and velmoractl (tests/helpers/unpack-module).
#   tests/module_test.sh ZIP
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

echo "-- zip layout, modes and module.prop; shellcheck"
zipinfo "$1" >"$work"/listing
for entry in "x META-INF/com/google/android/update-binary" "- META-INF/com/google/android/updater-script" \
             "- module.prop" "- customize.sh" "x service.sh" "x start.sh" "x status.sh" "x action.sh" \
             "x velmora" "x velmoractl" "x velmora-sim" "- 配置" "- webroot/index.html" "- webroot/vendor/uPlot.iife.min.js" \
             "- LICENSE" "- icons/webui.png" "- icons/action.png"; do
  mode=-rw-r--r--
  [ "${entry%% *}" = x ] && mode=-rwxr-xr-x
  grep -q -- "^$mode .* ${entry#* }\$" "$work"/listing || fail "no '$entry' in the zip"
done
unzip -q "$1" -d "$work"/unzipped
! grep -rqE 'https?://' "$work"/unzipped/webroot || fail "the page names another host"
[ "$(cat "$work"/unzipped/META-INF/com/google/android/updater-script)" = "#MAGISK" ] || fail "updater-script"
[ "$(grep -Ec '^(id=velmora|name=velmora|version=v[0-9]+\.[0-9]+\.[0-9]+|versionCode=[0-9]+|author=.+|description=.+|'\
'webuiIcon=icons/webui.png|actionIcon=icons/action.png)$' "$work"/unzipped/module.prop)" -eq 8 ] ||
  fail "module.prop: $(cat "$work"/unzipped/module.prop)"
shellcheck "$repo"/module/*.sh "$repo"/module/META-INF/com/google/android/update-binary "$repo"/scripts/* \
  "$repo"/tools/plot-log "$repo"/tests/*.sh "$repo"/tests/helpers/lay-out-phone "$repo"/tests/helpers/in-phone \
  "$repo"/tests/helpers/unpack-module

echo "-- the zip: the same bytes again, names flagged UTF-8, no zip64, LF scripts; update.json"
"$repo"/scripts/package "$repo"/build-phone/velmora "$work"/again/velmora.zip >/dev/null
cmp "$1" "$work"/again/velmora.zip || fail "two runs gave two zips"
VELMORA_RELEASE_URL=https://example.org/velmora/ "$repo"/scripts/package "$repo"/build-phone/velmora "$work"/url/v.zip >/dev/null
python3 - "$work" "$(realpath "$1")" <<'CHECK' || fail "the zip's format, names or line endings, or update.json"
import json, os, sys, zipfile
os.chdir(sys.argv[1])
data, archive, url = open(sys.argv[2], "rb").read(), zipfile.ZipFile(sys.argv[2]), "https://example.org/velmora"
assert data[-22:-18] == b"PK\5\6" and data[-42:-38] != b"PK\6\7"  # the end record, no zip64 locator before it
assert all(entry.filename.isascii() or entry.flag_bits & 0x800 for entry in archive.infolist())
assert not any(b"\r" in archive.read(name) for name in archive.namelist() if name.endswith((".sh", ".prop", "-binary")))
prop = dict(line.split("=", 1) for line in archive.read("module.prop").decode().splitlines())
assert "updateJson" not in prop and not os.path.exists(os.path.join(os.path.dirname(sys.argv[2]), "update.json"))  # no made-up host
assert json.load(open("url/update.json")) == {"version": prop["version"], "versionCode": int(prop["versionCode"]),
                                             "zipUrl": url + "/v.zip", "changelog": url + "/CHANGELOG.md"}
assert zipfile.ZipFile("url/v.zip").read("module.prop").decode().endswith(f"\nupdateJson={url}/update.json\n")
CHECK

if [ "$(id -u)" -ne 0 ]; then
  echo "module: skipped the scripts in the phone (chroot needs root)"
  exit 0
fi
phone=$work/phone
module=$phone/data/adb/modules/velmora
node=$phone/sys/class/power_supply/battery/constant_charge_current_max
"$repo"/tests/helpers/lay-out-phone "$phone" Charging 0 busybox
"$repo"/tests/helpers/unpack-module "$phone" "$1"
echo "-- installs as the managers do: BusyBox unzip alone, or after an extraction by the names' flags"
modpath=$phone/data/adb/modules_update/velmora
in_zip=$(zipinfo -1 "$1" | grep -v '^META-INF/' | LC_ALL=C sort)
for first in busybox zipfile; do  # Magisk's flow; KernelSU's, whose first extraction decodes names by the flag
  rm -rf "$modpath" && mkdir -p "$modpath"
  [ $first = busybox ] || python3 -m zipfile -e "$1" "$modpath"
  busybox unzip -oq "$1" -x 'META-INF/*' -d "$modpath"
  [ "$(cd "$modpath" && find . -type f ! -path './META-INF/*' | cut -c3- | LC_ALL=C sort)" = "$in_zip" ] ||
    fail "after $first, the module's files are not the zip's: $(find "$modpath")"
done
"$repo"/tests/helpers/unpack-module "$phone" "$1" /data/adb/modules_update/velmora
sed -i '1a echo started >>/starts' "$module"/velmora  # counts velmora's starts
in_phone() {  # in_phone COMMAND: runs it in the phone's module directory
  "$repo"/tests/helpers/in-phone "$phone" "cd /data/adb/modules/velmora && $1" </dev/null 2>/dev/null
}
wait_for() {  # wait_for COMMAND...: up to 30 s
  for _ in $(seq 300); do "$@" && return 0; sleep 0.1; done
  return 1
}
stopped() { grep -q '^description=已停止 / Stopped' "$module"/module.prop; }
locked() { [ "$(stat -c %a "$node")" = 444 ]; }
expect() {  # expect TEXT: a line of what was said
  case $out in *"$1"*) ;; *) fail "no '$1' in:"$'\n'"$out" ;; esac  # no pipe for grep -q to break
}
put_back() {  # put_back HOW: after velmora ended HOW, the charge node is as the kernel had it
  echo "charge node after $1: $(cat "$node"), mode 0$(stat -c %a "$node")"
  [ "$(cat "$node") $(stat -c %a "$node")" = "3000000 644" ] || fail "not put back after $1"
  [ "$(tail -n 1 "$module"/velmora.err)" = "2031-01-02 03:04:05 velmoractl: charge node put back to 3000000 uA, mode 0644" ] ||
    fail "velmora.err after $1: $(cat "$module"/velmora.err)"
}

echo "-- customize.sh: arm64 phones with velmora's nodes only, a node without a limit named; an upgrade keeps the settings"
customize() {  # customize ARCH: runs customize.sh as a root manager does
  in_phone "ARCH=$1 MODPATH=/data/adb/modules_update/velmora
    ui_print() { echo \"\$1\"; }; abort() { echo \"\$1\"; exit 1; }
    set_perm() { chmod \$4 \$1; }; set_perm_recursive() { :; }; . \$MODPATH/customize.sh"
}
out=$(customize arm) && fail "customize.sh accepted arm"
[ "$out" = "! velmora runs on arm64 phones only; this phone is arm" ] || fail "refusal: $out"
echo -22 >"$node"
out=$(customize arm64) || fail "customize.sh refused arm64"
expect "- The charge node /sys/class/power_supply/battery/constant_charge_current_max shows no limit (\"-22\"): velmora regulates it"
echo 3000000 >"$node"
cmp -s "$module"/配置 "$phone"/data/adb/modules_update/velmora/配置 || fail "the upgrade lost the user's settings"
mv "$phone"/sys/class/backlight "$work"/
out=$(customize arm64) && fail "customize.sh accepted a phone without a backlight"
expect "! velmora cannot regulate this phone: it has no backlight"
mv "$work"/backlight "$phone"/sys/class/

echo "-- service.sh: waits for boot, starts velmora once; killed, the charger is put back"
echo 0 >"$phone"/boot_completed
in_phone "sh /data/adb/modules/velmora/service.sh" &
sleep 0.3
[ ! -f "$module"/velmora.pid ] || fail "started before boot completed"
echo 1 >"$phone"/boot_completed
wait_for locked || fail "velmora did not lock the charge node after boot"
in_phone "sh /data/adb/modules/velmora/service.sh"  # a second run must not start another
grep -q '^description=自 2031-01-02 03:04 起运行 / Running since 2031-01-02 03:04$' "$module"/module.prop || fail "no running description"
rm "$module"/velmora.pid  # lost: Action finds velmora all the same, and starts no other
out=$(in_phone "sh ./action.sh")
expect "velmora runs (pid "
kill "$(printf '%s\n' "$out" | sed -n 's/^velmora runs (pid \([0-9]*\)).$/\1/p')"
wait_for stopped || fail "no stopped description"
[ "$(wc -l <"$phone"/starts)" -eq 1 ] || fail "started $(wc -l <"$phone"/starts) times"
put_back "a kill"

echo "-- action.sh: starts velmora again; a damaged 配置 stops it, and it says where, in the phone's language"
held=$(wc -l <"$module"/velmora.err)  # 499 lines before the start, the last one kept last
{ seq $((499 - held)) | sed 's/^/an earlier report /'; cat "$module"/velmora.err; } >"$work"/err
mv "$work"/err "$module"/velmora.err
out=$(in_phone "sh ./action.sh")
expect "velmora was not running: 2031-01-02 03:04:05 velmora: killed by signal 15"
expect "velmora runs since "
expect "Battery   Charging, 37.8 °C; board 37.8 °C; screen off"
expect ", node mode 0444"
expect "On stop   back to the kernel's 3000 mA, node mode 0644"
sed -i 's/^功率=27/功率=x/' "$module"/配置
wait_for stopped || fail "velmora ran on with a damaged 配置"
put_back "a damaged 配置"
grep -q '^description=已停止 / Stopped 2031-01-02 03:04: 读取配置数据失败: .* (velmora.err)$' "$module"/module.prop ||
  fail "description: $(grep description "$module"/module.prop)"
[ "$(wc -l <"$module"/velmora.err.1)" -eq 500 ] || fail "velmora.err was not rotated at 500 lines"
out=$(in_phone "sh ./action.sh")
expect "It stopped again: 读取配置数据失败: entry 2 (功率=) at byte 22: no number"
expect "Target    none: 配置 is damaged (读取配置数据失败: entry 2 (功率=)"
case $out in *"Settings  power"*) fail "settings shown from a damaged 配置: $out" ;; esac
expect "Fix 配置 in /data/adb/modules/velmora, then press Action."
mkdir "$phone"/prop
while read -r persist product line; do  # persist.sys.locale ("-": unset), ro.product.locale, a line said
  echo "${persist#-}" >"$phone"/prop/persist.sys.locale
  echo "$product" >"$phone"/prop/ro.product.locale
  out=$(in_phone "sh ./action.sh")
  expect "$line"
done <<'ROWS'
zh-CN en-US 它又停止了：读取配置数据失败: entry 2 (功率=) at byte 22: no number
- zh-Hans-CN 电池      Charging，37.8 °C；主板 37.8 °C；屏幕 息屏
en-US zh-CN It stopped again: 读取配置数据失败: entry 2 (功率=) at byte 22: no number
ROWS
out=$(in_phone "sh status.sh")
expect "settings_entry=2"

echo "-- update-binary: Magisk 20.4 or later"
magisk=$phone/data/adb/magisk && mkdir -p "$magisk" && cp -r "$work"/unzipped/META-INF "$phone"/
out=$(for code in 20300 20400; do
  echo "MAGISK_VER=$code MAGISK_VER_CODE=$code; install_module() { echo installed; }" >"$magisk"/util_functions.sh
  in_phone "sh /META-INF/com/google/android/update-binary 3 1 /v.zip; echo \$?"
done | tr '\n' ' ')
[ "$out" = "! velmora needs Magisk 20.4 or later; this is Magisk 20300 1 installed 0 " ] || fail "update-binary: $out"

echo "module: all checks passed"
