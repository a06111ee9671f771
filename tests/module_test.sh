#!/usr/bin/env bash
# The root-manager module: the zip's layout, modes and module.prop; the default
# settings read by the real daemon; clean shell scripts; customize.sh and
# service.sh run against stubs of the root manager and the phone.
#   tests/module_test.sh VELMORA FAKETIME_LIBRARY
set -euo pipefail
velmora=$1
faketime=$2
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

echo "-- zip layout, modes and module.prop"
"$repo"/scripts/package "$velmora" "$work"/velmora.zip >/dev/null
zipinfo "$work"/velmora.zip >"$work"/listing
for entry in "-rwxr-xr-x .* META-INF/com/google/android/update-binary" \
             "-rw-r--r-- .* META-INF/com/google/android/updater-script" \
             "-rw-r--r-- .* module.prop" "-rw-r--r-- .* customize.sh" \
             "-rwxr-xr-x .* service.sh" "-rwxr-xr-x .* start.sh" "-rwxr-xr-x .* velmora" \
             "-rw-r--r-- .* 配置"; do
  grep -q -- "^$entry\$" "$work"/listing || fail "no '$entry' in the zip"
done
mkdir "$work"/unzipped
(cd "$work"/unzipped && unzip -q ../velmora.zip)
[ "$(cat "$work"/unzipped/META-INF/com/google/android/updater-script)" = "#MAGISK" ] ||
  fail "updater-script"
for key in "id=velmora" "name=velmora" "version=v[0-9]+\.[0-9]+\.[0-9]+" "versionCode=[0-9]+" \
           "author=.+" "description=.+"; do
  grep -Eq "^$key\$" "$work"/unzipped/module.prop || fail "module.prop lacks $key"
done

echo "-- the default settings, notes and all, drive the real daemon"
tree=$work/phone
mkdir -p "$tree"/sys/class/power_supply/battery "$tree"/sys/class/backlight/panel0-backlight \
         "$tree"/data/adb/modules/velmora
echo Charging >"$tree"/sys/class/power_supply/battery/status
echo 390 >"$tree"/sys/class/power_supply/battery/temp
echo 0 >"$tree"/sys/class/power_supply/battery/constant_charge_current_max
echo 0 >"$tree"/sys/class/backlight/panel0-backlight/brightness
cp "$work"/unzipped/配置 "$tree"/data/adb/modules/velmora/配置
(cd "$tree" && LD_PRELOAD=$faketime FAKETIME="@2026-06-01 23:00:00 x100" TZ=UTC \
   timeout 0.5 "$velmora" 2>"$work"/stderr) || true
# The night target is 39 °C and the battery at it: drive 25 at power 27.
[ "$(cat "$tree"/sys/class/power_supply/battery/constant_charge_current_max)" = 1237275 ] ||
  fail "default settings: $(cat "$work"/stderr)"
rm -f /dev/shm/faketime_shm_* /dev/shm/sem.faketime_sem_* 2>/dev/null || true

echo "-- shellcheck"
shellcheck "$repo"/module/service.sh "$repo"/module/customize.sh \
  "$repo"/module/META-INF/com/google/android/update-binary "$repo"/scripts/* \
  "$repo"/tools/plot-log "$repo"/tests/*.sh

echo "-- customize.sh: arm64 only, and an upgrade keeps the settings"
# shellcheck disable=SC2034,SC2317  # what the sourced customize.sh uses
customize() {  # customize ARCH: runs customize.sh as a root manager does, in a subshell
  (
    ARCH=$1
    MODPATH=$work/adb/modules_update/velmora
    ui_print() { echo "$1"; }
    abort() { echo "$1"; exit 1; }
    set_perm() { chmod "$4" "$1"; }
    set_perm_recursive() { :; }
    # shellcheck disable=SC1091
    . "$repo"/module/customize.sh
  )
}
mkdir -p "$work"/adb/modules_update/velmora "$work"/adb/modules/velmora
cp -r "$work"/unzipped/. "$work"/adb/modules_update/velmora/
out=$(customize arm) && fail "customize.sh accepted arm"
[ "$out" = "! velmora runs on arm64 phones only; this phone is arm" ] || fail "refusal: $out"
printf '日志开关=1\n功率=12\n晚上=23\n早上=6\n亮屏温度=41000\n息屏温度=37000\n版本=mine\n机型=mine\n' \
  >"$work"/adb/modules/velmora/配置
customize arm64 >/dev/null || fail "customize.sh refused arm64"
cmp -s "$work"/adb/modules/velmora/配置 "$work"/adb/modules_update/velmora/配置 ||
  fail "the upgrade lost the user's settings"

echo "-- service.sh under BusyBox: waits for boot, starts velmora once, stamps in local time"
if [ "$(id -u)" -ne 0 ]; then
  echo "module: skipped the service.sh checks (chroot needs root)"
  exit 0
fi
# A phone of BusyBox alone, as the root manager's shell sees it: a bare name is
# BusyBox's applet, Android's own tools are in /system/bin.
phone=$work/phone-bb
module=$phone/data/adb/modules/velmora
mkdir -p "$module" "$phone"/bin "$phone"/system/bin "$phone"/proc "$phone"/dev
cp /bin/busybox "$phone"/bin/
chroot "$phone" /bin/busybox --install -s /bin
mknod -m 666 "$phone"/dev/null c 1 3
cp "$work"/unzipped/service.sh "$work"/unzipped/start.sh "$work"/unzipped/module.prop "$module"/
cat >"$phone"/system/bin/getprop <<'STANDIN'
#!/bin/sh
[ "$1" = sys.boot_completed ] && cat /boot_completed 2>/dev/null
STANDIN
# Android's date in the phone's zone; BusyBox's would print GMT.
printf '#!/bin/sh\nexec date -d "2031-01-02 03:04:05" "$@"\n' >"$phone"/system/bin/date
# A stand-in daemon: counts its starts, reports, waits to be released, ends.
cat >"$module"/velmora <<'STANDIN'
#!/bin/sh
echo started >>/starts
echo "读取字符串失败: No such file or directory" >&2
while [ ! -f /release ]; do sleep 0.05; done
echo "无法打开读取配置文件: No such file or directory" >&2
STANDIN
chmod +x "$phone"/system/bin/* "$module"/velmora
in_phone() {  # in_phone SCRIPT: runs it in the phone, its /proc the host's in a mount namespace of its own
  # shellcheck disable=SC2016  # expanded by the inner sh
  unshare -m sh -c 'mount --rbind /proc "$1"/proc && exec chroot "$1" /bin/sh "$2"' sh "$phone" "$1" \
    </dev/null >/dev/null 2>&1
}
in_phone /data/adb/modules/velmora/service.sh &
sleep 0.3
[ ! -f "$phone"/starts ] || fail "started before boot completed"
echo 1 >"$phone"/boot_completed
for _ in $(seq 100); do [ -f "$module"/velmora.pid ] && break; sleep 0.1; done
in_phone /data/adb/modules/velmora/service.sh  # a second run must not start another
grep -q '^description=Running since 2031-01-02 03:04:' "$module"/module.prop ||
  fail "no running description: $(grep description "$module"/module.prop)"
touch "$phone"/release
for _ in $(seq 100); do grep -q '^description=Stopped' "$module"/module.prop && break; sleep 0.1; done
grep -q '^description=Stopped 2031-01-02 03:04: 无法打开读取配置文件: No such file or directory\. See velmora.err' \
  "$module"/module.prop || fail "description: $(grep description "$module"/module.prop)"
[ "$(wc -l <"$phone"/starts)" -eq 1 ] || fail "started $(wc -l <"$phone"/starts) times"
[ "$(grep -c '^2031-01-02 03:04:05 ' "$module"/velmora.err)" -eq 2 ] ||
  fail "velmora.err is not two reports in local time: $(cat "$module"/velmora.err)"
echo "module: all checks passed"
