// The regulation cycle: the settings file read every cycle, the time stamp,
// the choice of target temperature and the loop that runs until a fatal
// condition. The file's format, its reader and the target rule are in
// settings.h, which velmoractl and the simulator share.
#pragma once

#include <ctime>

#include "settings.h"

// Reads the eight settings into g_state. Reports kMsgSettingsUnopened when the
// file cannot be opened and kMsgSettingsIncomplete when fewer than eight
// values convert (a number beyond the int32 range counts as not converted).
bool read_config();

// Sets g_state.aim_temp from the backlight, the hour and the settings.
void pick_aim_temp();

// One cycle at the clock's time now (seconds since the epoch): the status,
// the settings, the stamp and, while charging, the regulation step and the
// charge node's write. Returns the pause before the log line and the next
// cycle, s, or 0 after a fatal condition, reported. The simulator's twin runs
// it on its own clock.
unsigned run_cycle(time_t now);

// Probes the platform, then runs cycles until one of the fatal conditions;
// each has been reported when it returns. The process's exit status is always 0.
int run_velmora();
