#!/usr/bin/env bash
# The root-manager module: the zip's layout, bytes and module.prop, update.json,
# clean shell scripts, both ways the managers unpack it with customize.sh
# against a stub installer, and (as root) update-binary, service.sh, action.sh
# and status.sh run by BusyBox in a chroot of a phone tree.
#   tests/module_test.sh VELMORA
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

echo "-- zip layout, modes and module.prop; shellcheck"
"$repo"/scripts/package "$1" "$work"/velmora.zip >/dev/null
zipinfo "$work"/velmora.zip >"$work"/listing
for entry in "x META-INF/com/google/android/update-binary" "- META-INF/com/google/android/updater-script" \
             "- module.prop" "- customize.sh" "x service.sh" "x start.sh" "x status.sh" "x action.sh" \
             "x velmora" "- 配置" "- webroot/index.html" "- webroot/vendor/uPlot.iife.min.js" "- LICENSE" \
             "- icons/webui.png" "- icons/action.png"; do
  mode=-rw-r--r--
  [ "${entry%% *}" = x ] && mode=-rwxr-xr-x
  grep -q -- "^$mode .* ${entry#* }\$" "$work"/listing || fail "no '$entry' in the zip"
done
unzip -q "$work"/velmora.zip -d "$work"/unzipped
! grep -rqE 'https?://' "$work"/unzipped/webroot || fail "the page names another host"
[ "$(cat "$work"/unzipped/META-INF/com/google/android/updater-script)" = "#MAGISK" ] || fail "updater-script"
[ "$(grep -Ec '^(id=velmora|name=velmora|version=v[0-9]+\.[0-9]+\.[0-9]+|versionCode=[0-9]+|author=.+|description=.+|'\
'webuiIcon=icons/webui.png|actionIcon=icons/action.png)$' "$work"/unzipped/module.prop)" -eq 8 ] ||
  fail "module.prop: $(cat "$work"/unzipped/module.prop)"
shellcheck "$repo"/module/*.sh "$repo"/module/META-INF/com/google/android/update-binary "$repo"/scripts/* \
  "$repo"/tools/plot-log "$repo"/tests/*.sh

echo "-- the zip: the same bytes again, names flagged UTF-8, no zip64, LF scripts; update.json"
"$repo"/scripts/package "$1" "$work"/again/velmora.zip >/dev/null
cmp "$work"/velmora.zip "$work"/again/velmora.zip || fail "two runs gave two zips"
VELMORA_RELEASE_URL=https://example.org/velmora/ "$repo"/scripts/package "$1" "$work"/url/v.zip >/dev/null
python3 - "$work" <<'CHECK' || fail "the zip's format, names or line endings, or update.json"
import json, os, sys, zipfile
os.chdir(sys.argv[1])
data, archive, url = open("velmora.zip", "rb").read(), zipfile.ZipFile("velmora.zip"), "https://example.org/velmora"
assert data[-22:-18] == b"PK\5\6" and data[-42:-38] != b"PK\6\7"  # the end record, no zip64 locator before it
assert all(entry.filename.isascii() or entry.flag_bits & 0x800 for entry in archive.infolist())
assert not any(b"\r" in archive.read(name) for name in archive.namelist() if name.endswith((".sh", ".prop", "-binary")))
prop = dict(line.split("=", 1) for line in archive.read("module.prop").decode().splitlines())
assert "updateJson" not in prop and not os.path.exists("update.json")  # no made-up host
assert json.load(open("url/update.json")) == {"version": prop["version"], "versionCode": int(prop["versionCode"]),
                                             "zipUrl": url + "/v.zip", "changelog": url + "/CHANGELOG.md"}
assert zipfile.ZipFile("url/v.zip").read("module.prop").decode().endswith(f"\nupdateJson={url}/update.json\n")
CHECK

echo "-- installs as the managers do: BusyBox unzip alone, or after an extraction by the names' flags"
# shellcheck disable=SC2034,SC2317  # what the sourced customize.sh uses
customize() {  # customize ARCH: runs customize.sh as a root manager does, in a subshell
  (ARCH=$1 MODPATH=$work/adb/modules_update/velmora
   ui_print() { echo "$1"; }; abort() { echo "$1"; exit 1; }
   set_perm() { chmod "$4" "$1"; }; set_perm_recursive() { :; }
   # shellcheck disable=SC1091
   . "$repo"/module/customize.sh)
}
modpath=$work/adb/modules_update/velmora
mkdir -p "$work"/adb/modules/velmora
echo "日志开关=1 mine" >"$work"/adb/modules/velmora/配置
in_zip=$(zipinfo -1 "$work"/velmora.zip | grep -v '^META-INF/' | LC_ALL=C sort)
for first in busybox zipfile; do  # Magisk's flow; KernelSU's, whose first extraction decodes names by the flag
  rm -rf "$modpath" && mkdir -p "$modpath"
  [ $first = busybox ] || python3 -m zipfile -e "$work"/velmora.zip "$modpath"
  busybox unzip -oq "$work"/velmora.zip -x 'META-INF/*' -d "$modpath"
  customize arm64 >/dev/null || fail "customize.sh refused arm64"
  cmp -s "$work"/adb/modules/velmora/配置 "$modpath"/配置 || fail "the upgrade lost the user's settings"
  [ "$(cd "$modpath" && find . -type f ! -path './META-INF/*' | cut -c3- | LC_ALL=C sort)" = "$in_zip" ] ||
    fail "after $first, the module's files are not the zip's: $(find "$modpath")"
done
out=$(customize arm) && fail "customize.sh accepted arm"
[ "$out" = "! velmora runs on arm64 phones only; this phone is arm" ] || fail "refusal: $out"

if [ "$(id -u)" -ne 0 ]; then
  echo "module: skipped service.sh, status.sh and action.sh (chroot needs root)"
  exit 0
fi
phone=$work/phone
module=$phone/data/adb/modules/velmora
"$repo"/scripts/lay-out-phone "$phone" Charging 0 busybox
cp "$work"/unzipped/*.sh "$work"/unzipped/module.prop "$module"/
in_phone() {  # in_phone COMMAND: runs it in the phone's module directory
  "$repo"/scripts/in-phone "$phone" "cd /data/adb/modules/velmora && $1" </dev/null 2>/dev/null
}
standin() {  # standin [REPORT]: a velmora that counts its starts, reports, waits for /release, ends
  printf '#!/bin/sh\necho started >>/starts\necho "读取字符串失败: No such file or directory" >&2
while [ ! -f /release ]; do sleep 0.05; done\necho "%s" >&2\n' "${1:-无法打开读取配置文件: Success}" \
    >"$module"/velmora
  chmod +x "$module"/velmora
  rm -f "$phone"/release
}
wait_for() {  # wait_for COMMAND...: up to 10 s
  for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done
  return 1
}
stopped() { grep -q '^description=Stopped' "$module"/module.prop; }
expect() {  # expect TEXT: a line of what action.sh said
  printf '%s\n' "$out" | grep -qF -- "$1" || fail "action.sh lacks '$1':"$'\n'"$out"
}

echo "-- update-binary: Magisk 20.4 or later"
magisk=$phone/data/adb/magisk && mkdir -p "$magisk" && cp -r "$work"/unzipped/META-INF "$phone"/
out=$(for code in 20300 20400; do
  echo "MAGISK_VER=$code MAGISK_VER_CODE=$code; install_module() { echo installed; }" >"$magisk"/util_functions.sh
  in_phone "sh /META-INF/com/google/android/update-binary 3 1 /v.zip; echo \$?"
done | tr '\n' ' ')
[ "$out" = "! velmora needs Magisk 20.4 or later; this is Magisk 20300 1 installed 0 " ] || fail "update-binary: $out"

echo "-- service.sh: waits for boot, starts velmora once, stamps in the phone's local time"
standin
echo 0 >"$phone"/boot_completed
in_phone "sh /data/adb/modules/velmora/service.sh" &
sleep 0.3
[ ! -f "$phone"/starts ] || fail "started before boot completed"
echo 1 >"$phone"/boot_completed
wait_for test -f "$module"/velmora.pid || fail "not started after boot"
in_phone "sh /data/adb/modules/velmora/service.sh"  # a second run must not start another
grep -q '^description=Running since 2031-01-02 03:04:' "$module"/module.prop || fail "no running description"
touch "$phone"/release
wait_for stopped || fail "no stopped description"
grep -q '^description=Stopped 2031-01-02 03:04: 无法打开读取配置文件: Success\. See velmora.err' \
  "$module"/module.prop || fail "description: $(grep description "$module"/module.prop)"
[ "$(wc -l <"$phone"/starts)" -eq 1 ] || fail "started $(wc -l <"$phone"/starts) times"
[ "$(grep -c '^2031-01-02 03:04:05 ' "$module"/velmora.err)" -eq 2 ] || fail "velmora.err: $(cat "$module"/velmora.err)"

echo "-- action.sh: starts a stopped velmora again and says how it went"
standin
out=$(in_phone "sh ./action.sh")
expect "velmora was not running: 2031-01-02 03:04:05 无法打开读取配置文件: Success"
expect "velmora runs since 2031-01-02 03:04 (pid "
expect "Battery   Charging, 37.8 °C; board 38.0 °C; screen off"
out=$(in_phone "sh ./action.sh")  # running: it only looks
[ "$(wc -l <"$phone"/starts)" -eq 2 ] || fail "started a running velmora again"
touch "$phone"/release
wait_for stopped || fail "no stopped description"
standin "读取配置数据失败: Success"
touch "$phone"/release  # the restarted velmora stops at once
out=$(in_phone "sh ./action.sh")
expect "It stopped again: 2031-01-02 03:04:05 读取配置数据失败: Success"
expect "Fix 配置 in /data/adb/modules/velmora, then press Action."

echo "-- status.sh: what velmora would make of the phone and its settings"
settings='日志开关=1\n功率=27\n晚上=22\n早上=7\n亮屏温度=40000\n息屏温度=38000\n版本=v1\n机型=MI11\n'
while IFS='|' read -r name text key value; do
  printf '%b' "$text" >"$module"/配置
  got=$(in_phone "sh ./status.sh" | sed -n "s/^$key=//p")
  [ "$got" = "$value" ] || fail "$name: $key=$got, not $value"
done <<ROWS
valid, screen off at 03 h inside the night window 22..7|$settings|target|night window
notes after the eighth|${settings}notes|settings_end_byte|103
one line with spaces|${settings//\\n/ }|max_current_mA|4949
CRLF|${settings//\\n/\\r\\n}|model|MI11
byte-order mark|\xef\xbb\xbf$settings|settings|entry 1 is not 日志开关=
blank first line|\\n$settings|settings|entry 1 is not 日志开关=
space before =|日志开关 =1|settings|entry 1 is not 日志开关=
a word for a number|日志开关=on|settings|日志开关= has no number
past int32|日志开关=1 功率=2147483648|settings|功率= is out of range
seven entries|${settings/机型=MI11/}|settings|entry 8 is not 机型=
missing||settings|missing or empty
night equal to morning|${settings/晚上=22/晚上=7}|target_C|38.0
ROWS
echo 120 >"$phone"/sys/class/backlight/panel0-backlight/brightness
[ "$(in_phone "sh ./status.sh" | grep -c '^target.*=\(screen on\|40.0\)$')" -eq 2 ] || fail "screen on"
echo "module: all checks passed"
