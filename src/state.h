// The one record of the daemon's state. velmora's operations read and write
// its single instance g_state directly; the settings reader fills the record
// it is given, so that velmoractl and the simulator read settings into records
// of their own. All numbers start at 0 and texts empty.
#pragma once

#include <cstdint>

// A word of the settings and its terminating zero, bytes.
constexpr int kSettingsWord_bytes = 30;

struct ControllerState {
    // Settings, overwritten by every successful read of the settings file.
    int32_t dlog = 0;      // 1: append a diagnostic line every cycle
    int32_t in_power = 0;  // power setting; limit = 1833 uA x in_power x drive
    int32_t night = 0;     // hour 0..23 at which the night window opens
    int32_t morning = 0;   // hour at which it closes (inclusive)
    int32_t on_temp = 0;   // target with the screen on, m°C
    int32_t off_temp = 0;  // target with the screen off outside the window, m°C
    char PID_version[kSettingsWord_bytes] = {};  // free word, at most 29 bytes; only logged
    char phonemodel[kSettingsWord_bytes] = {};   // free word, at most 29 bytes; only logged

    // Cycle readings. Idle cycles update only status, the settings and the time.
    const char *status = "0";  // first status token (points into read_date_char) or "0"
    char timeStr[30] = {};     // local time of the cycle's start, "%Y-%m-%d %H:%M:%S"
    char now_time[8] = {};     // hour of the cycle's start, "%H"
    int32_t time_now = 0;      // now_time as a number, 0..23
    int32_t aim_temp = 0;      // target of the last charging cycle, m°C
    int32_t temp_batery = 0;   // battery temperature, tenths of a °C, as read
    int32_t temp_board = 0;    // board temperature, m°C, as read; 0 = no sensor
    int32_t aim_current = 0;   // limit read back from the charge node, mA

    // Platform tags, set once by probe_platform(); the log prints them.
    const char *device = "";         // "高通" or "联发科": which backlight node
    const char *device_status = "";  // "老机型" or "新机型": which charge node

    // Regulator; never reset, so a new charge resumes where the last one stopped.
    int32_t temp = 0;          // weighted temperature, m°C (9/10 battery, 1/10 board)
    int32_t error = 0;         // target minus temp, tenths of a °C; positive when cooler
    int32_t integral = 0;      // running sum of error, held within -25..25
    int32_t last_error = 0;    // error of the previous charging cycle
    int32_t differential = 0;  // error minus last_error
    int32_t aim = 0;           // drive level 1..100
};

extern ControllerState g_state;
