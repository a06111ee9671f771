// Everything velmora knows about the phone's files: the catalogue of paths,
// the two node readers, the start-up probe and the write-and-lock protocol of
// the charge-current node. The readers' scanner is in scan.h.
#pragma once

#include <cstdint>

// Every path is the build's prefix before the device path: empty on Android,
// "." on any other build, so a host build works on a device tree laid out under
// its working directory and can never touch the host's own /sys.
#ifndef VELMORA_PREFIX
#error "the build sets VELMORA_PREFIX"
#endif

// Battery status; its first word is "Charging" while charging.
constexpr char kStatusNode[] = VELMORA_PREFIX "/sys/class/power_supply/battery/status";
// Battery temperature, tenths of a °C.
constexpr char kBatteryTempNode[] = VELMORA_PREFIX "/sys/class/power_supply/battery/temp";
// Board temperature, m°C; 0 (absent or unreadable) means no board sensor.
constexpr char kBoardTempNode[] =
    VELMORA_PREFIX "/sys/class/thermal/thermal_message/board_sensor_temp";
// Backlight brightness, 0 while the screen is off: Qualcomm family ("高通").
constexpr char kQualcommBacklightNode[] =
    VELMORA_PREFIX "/sys/class/backlight/panel0-backlight/brightness";
// Backlight brightness, 0 while the screen is off: MediaTek family ("联发科").
constexpr char kMediatekBacklightNode[] = VELMORA_PREFIX "/sys/class/leds/lcd-backlight/brightness";
// Charge-current limit, uA: older generation ("老机型"), probed first.
constexpr char kOldChargeNode[] =
    VELMORA_PREFIX "/sys/class/power_supply/battery/constant_charge_current_max";
// Charge-current limit, uA: newer generation ("新机型").
constexpr char kNewChargeNode[] =
    VELMORA_PREFIX "/sys/class/power_supply/battery/constant_charge_current";
// Battery current, uA as the kernel reports it (negative while charging on most phones).
constexpr char kCurrentNowNode[] = VELMORA_PREFIX "/sys/class/power_supply/battery/current_now";
// Battery capacity, whole percent.
constexpr char kCapacityNode[] = VELMORA_PREFIX "/sys/class/power_supply/battery/capacity";
// The settings file, re-read every cycle, and the diagnostic log beside it.
constexpr char kSettingsFile[] = VELMORA_PREFIX "/data/adb/modules/velmora/配置";
constexpr char kLogFile[] = VELMORA_PREFIX "/data/adb/modules/velmora/PID_log";

// The module directory's other files, which velmora never opens: its pid, and
// its error stream with that stream's older half (start.sh), the lock of saves
// (velmoractl save), the zone's TZ value (velmoractl zone), and the charge
// node's own value and mode from before velmora (velmoractl charger).
constexpr char kModuleDir[] = VELMORA_PREFIX "/data/adb/modules/velmora";
constexpr char kPidFile[] = VELMORA_PREFIX "/data/adb/modules/velmora/velmora.pid";
constexpr char kErrFile[] = VELMORA_PREFIX "/data/adb/modules/velmora/velmora.err";
constexpr char kOlderErrFile[] = VELMORA_PREFIX "/data/adb/modules/velmora/velmora.err.1";
constexpr char kSaveLockFile[] = VELMORA_PREFIX "/data/adb/modules/velmora/save.lock";
constexpr char kTzFile[] = VELMORA_PREFIX "/data/adb/modules/velmora/velmora.tz";
constexpr char kChargerKeptFile[] = VELMORA_PREFIX "/data/adb/modules/velmora/charger.kept";
// velmora-sim tune's result, the lock that lets one tune run at a time, and
// the stage a running tune has reached: beside the log it tunes from.
constexpr char kTuneFile[] = VELMORA_PREFIX "/data/adb/modules/velmora/tune.json";
constexpr char kTuneLockFile[] = VELMORA_PREFIX "/data/adb/modules/velmora/tune.lock";
constexpr char kTuneStageFile[] = VELMORA_PREFIX "/data/adb/modules/velmora/tune.stage";
// The module's velmora-sim, which tunes (velmoractl tune starts it).
constexpr char kSimProgram[] = VELMORA_PREFIX "/data/adb/modules/velmora/velmora-sim";
// A pending update's module directory and settings, installed at the next boot.
constexpr char kUpdateDir[] = VELMORA_PREFIX "/data/adb/modules_update/velmora";
constexpr char kUpdateSettingsFile[] = VELMORA_PREFIX "/data/adb/modules_update/velmora/配置";
// This boot's id, a fresh text at every boot.
constexpr char kBootIdFile[] = VELMORA_PREFIX "/proc/sys/kernel/random/boot_id";
// The processes, for a pid's cmdline.
constexpr char kProcDir[] = VELMORA_PREFIX "/proc";

// Read and written by `velmoractl zone` before velmora starts, never by velmora:
// Android's packed time-zone files (which exist varies by Android version)
// and the one zone's TZif rules copied from the newest of them.
constexpr const char *kPackedTzdataFiles[] = {
    VELMORA_PREFIX "/apex/com.android.tzdata/etc/tz/tzdata",
    VELMORA_PREFIX "/apex/com.android.runtime/etc/tz/tzdata",
    VELMORA_PREFIX "/data/misc/zoneinfo/current/tzdata",
    VELMORA_PREFIX "/system/usr/share/zoneinfo/tzdata",
};
constexpr char kZoneFile[] = VELMORA_PREFIX "/data/adb/modules/velmora/zoneinfo";

constexpr int32_t kMicroampsPerMilliamp = 1000;

// The charge node's permission bits around velmora's writes: unlocked just
// before each write, locked from each write until the next one. The kernel's
// own mode is neither, so a node found at one of them holds velmora's limit.
constexpr unsigned kUnlockedMode = 0744;
constexpr unsigned kLockedMode = 0444;

constexpr char kQualcommTag[] = "高通";
constexpr char kMediatekTag[] = "联发科";
constexpr char kOldGenerationTag[] = "老机型";
constexpr char kNewGenerationTag[] = "新机型";

// The token reader's buffer: at most 23 bytes of token and a terminating zero.
// Every successful read_char() overwrites it.
extern char read_date_char[24];

// The node's integer, or 0 after the report "读取字符串失败" (cannot open) or
// "读取传感器数据失败" (no integer in it, or one beyond the int32 range).
int32_t read_int(const char *path);
// The node's first word in read_date_char, or "0" after the report
// "无法打开输入文件" (cannot open) or "读取数据失败" (no word in it).
const char *read_char(const char *path);

// The backlight family whose node exists (the Qualcomm one first), or
// nullptr when neither does; and the charge node's generation: the older when
// its node exists, else the newer, whose node is not looked for.
const char *backlight_family();
const char *charge_generation();
// Sets g_state.device and g_state.device_status by those. Reports
// "不是适配处理器机型" and returns false when neither backlight node exists.
bool probe_platform();
const char *brightness_node(const char *device);
const char *charge_node(const char *device_status);

// Unlocks the charge node (mode 0744) and opens it for writing with
// truncation; returns the descriptor, or -1 without a report. The node is
// never created: a missing node is a failure.
int open_charge_node(const char *path);
// Writes value in uA as a decimal line and closes the node.
void write_aim_current(int aimFile, int32_t value);
// Locks the charge node (mode 0444) and reads it back, in mA.
int32_t read_back_current(const char *path);
