// The regulation cycle: the settings file, the time stamp, the choice of
// target temperature and the loop that runs until a fatal condition.
#pragma once

#include <cstdint>

// Reads the eight settings into g_state. Reports "无法打开读取配置文件" when the
// file cannot be opened and "读取配置数据失败" when fewer than eight values
// convert (a number beyond the int32 range counts as not converted).
bool read_config();

// Whether hour lies in the window from night to morning, both hours inside;
// a window with night > morning spans midnight, one with night == morning is empty.
bool in_night_window(int32_t hour, int32_t night, int32_t morning);

// Sets g_state.aim_temp from the backlight, the hour and the settings.
void pick_aim_temp();

// Probes the platform, then runs cycles until one of the fatal conditions;
// each has been reported when it returns. The process's exit status is always 0.
int run_velmora();
