// The settings file 配置, as every program reads it: its eight entries in
// their order, the one reader that velmora runs every cycle (and velmoractl
// runs to check, show and save), and the rule by which the settings choose
// the target temperature.
#pragma once

#include <cstdint>

#include "cycle.h"
#include "scan.h"
#include "state.h"

// What an entry's value means, for velmoractl's and the page's checks: the
// log switch (1 on), a whole number, an hour 0..23, a temperature in m°C, or
// a word of at most kSettingsWordMax_bytes.
enum class SettingKind { kSwitch, kInteger, kHour, kMilliCelsius, kWord };
constexpr const char *kSettingKindNames[] = {"switch", "integer", "hour", "celsius", "word"};

// The settings file's entries in their order: the key with its "=", the name
// velmoractl gives the value, its kind, then a number into the field `number`
// or else a word into the field `word`.
struct SettingsEntry {
    const char *key;
    const char *name;
    SettingKind kind;
    int32_t ControllerState::*number;
    char (ControllerState::*word)[kSettingsWord_bytes];
};
constexpr SettingsEntry kSettingsEntries[] = {
    {"日志开关=", "log_switch", SettingKind::kSwitch, &ControllerState::dlog, nullptr},
    {"功率=", "power", SettingKind::kInteger, &ControllerState::in_power, nullptr},
    {"晚上=", "night", SettingKind::kHour, &ControllerState::night, nullptr},
    {"早上=", "morning", SettingKind::kHour, &ControllerState::morning, nullptr},
    {"亮屏温度=", "on_temp_mC", SettingKind::kMilliCelsius, &ControllerState::on_temp, nullptr},
    {"息屏温度=", "off_temp_mC", SettingKind::kMilliCelsius, &ControllerState::off_temp, nullptr},
    {"版本=", "version", SettingKind::kWord, nullptr, &ControllerState::PID_version},
    {"机型=", "model", SettingKind::kWord, nullptr, &ControllerState::phonemodel},
};
constexpr int kSettingsCount = sizeof kSettingsEntries / sizeof kSettingsEntries[0];
static_assert(kSettingsCount == 8, "配置 holds eight entries");
// The longest word velmora keeps whole, bytes.
constexpr int kSettingsWordMax_bytes = kSettingsWord_bytes - 1;

// Reads the entries from `first` on into s, from where inputFile stands (the
// first without leading whitespace); returns how many were read whole. The
// template "日志开关=%d\n功率=%d\n...版本=%s\n机型=%s": each line feed matches
// any run of whitespace, possibly empty, and anything after the eighth value
// is left unread. Inline, so the cycle's read costs no call.
inline int read_settings(ScanInput &inputFile, ControllerState &s, int first = 0) {
    for (int i = first; i < kSettingsCount; ++i) {
        const SettingsEntry &e = kSettingsEntries[i];
        if (i != first) scan_space(inputFile);
        const bool whole =
            scan_literal(inputFile, e.key) &&
            (e.number != nullptr ? scan_int(inputFile, &(s.*e.number))
                                 : scan_word(inputFile, s.*e.word, sizeof(s.*e.word)));
        if (!whole) return i - first;
    }
    return kSettingsCount - first;
}

// Whether hour lies in the window from night to morning, both hours inside;
// a window with night > morning spans midnight, one with night == morning is empty.
inline bool in_night_window(int32_t hour, int32_t night, int32_t morning) {
    if (night < morning) return night <= hour && hour <= morning;
    if (night > morning) return hour >= night || hour <= morning;
    return false;
}

// Which target applies for a backlight reading (0: screen off) at an hour.
enum class Target { kScreenOn, kNightWindow, kScreenOff };
inline Target target_of(int32_t backlight, int32_t hour, const ControllerState &s) {
    if (backlight != 0) return Target::kScreenOn;
    return in_night_window(hour, s.night, s.morning) ? Target::kNightWindow : Target::kScreenOff;
}
// That target's temperature, m°C.
inline int32_t target_mC(Target target, const ControllerState &s) {
    if (target == Target::kScreenOn) return s.on_temp;
    return target == Target::kNightWindow ? kNightTarget_mC : s.off_temp;
}
