// The module directory and every file in it, each built from the one
// directory path. The scripts and the settings page get these names from
// velmoractl (`velmoractl schema`), never spell them themselves.
#pragma once

#ifndef VELMORA_PREFIX
#error "the build sets VELMORA_PREFIX"
#endif

// Where the root manager installs the module, on the phone.
#define VELMORA_MODULE_PATH "/data/adb/modules/velmora"
// The module's directory, under the build's prefix (nodes.h tells why).
constexpr char kModuleDir[] = VELMORA_PREFIX VELMORA_MODULE_PATH;
#define VELMORA_MODULE_FILE(name) VELMORA_PREFIX VELMORA_MODULE_PATH "/" name

// The settings file, re-read every cycle, and the diagnostic log beside it:
// the two files velmora itself opens.
constexpr char kSettingsFile[] = VELMORA_MODULE_FILE("配置");
constexpr char kLogFile[] = VELMORA_MODULE_FILE("PID_log");

// The module directory's other files, which velmora never opens: its pid, and
// its error stream with that stream's older half (start.sh), the lock of saves
// (velmoractl save), the zone's TZ value and TZif rules (velmoractl zone), and
// the charge node's own value and mode from before velmora (velmoractl charger).
constexpr char kPidFile[] = VELMORA_MODULE_FILE("velmora.pid");
constexpr char kErrFile[] = VELMORA_MODULE_FILE("velmora.err");
constexpr char kOlderErrFile[] = VELMORA_MODULE_FILE("velmora.err.1");
constexpr char kSaveLockFile[] = VELMORA_MODULE_FILE("save.lock");
constexpr char kTzFile[] = VELMORA_MODULE_FILE("velmora.tz");
constexpr char kZoneFile[] = VELMORA_MODULE_FILE("zoneinfo");
constexpr char kChargerKeptFile[] = VELMORA_MODULE_FILE("charger.kept");
// The module's description for the root manager (velmoractl describe).
constexpr char kModuleProp[] = VELMORA_MODULE_FILE("module.prop");
// The lock that start.sh holds while it checks and starts velmora, and that
// the supervisor and velmora inherit (velmoractl start-lock).
constexpr char kStartLockFile[] = VELMORA_MODULE_FILE("velmora.lock");

// The module's programs and scripts, which the installer makes executable.
constexpr const char *kModuleExecutables[] = {"velmora",  "velmoractl", "velmora-sim", "service.sh",
                                              "start.sh", "status.sh",  "action.sh"};

// velmora-sim tune's result, the lock that lets one tune run at a time, and
// the stage a running tune has reached: beside the log it tunes from.
constexpr char kTuneFile[] = VELMORA_MODULE_FILE("tune.json");
constexpr char kTuneLockFile[] = VELMORA_MODULE_FILE("tune.lock");
constexpr char kTuneStageFile[] = VELMORA_MODULE_FILE("tune.stage");
// The module's velmora-sim, which tunes (velmoractl tune starts it).
constexpr char kSimProgram[] = VELMORA_MODULE_FILE("velmora-sim");

// A pending update's module directory and settings, installed at the next boot.
constexpr char kUpdateDir[] = VELMORA_PREFIX "/data/adb/modules_update/velmora";
constexpr char kUpdateSettingsFile[] = VELMORA_PREFIX "/data/adb/modules_update/velmora/配置";
