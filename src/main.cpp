// The regulation cycle: one probe, then a cycle after each pause (cycle.h:
// short while charging, long otherwise) until a fatal condition ends the process.
#include "main.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "cycle.h"
#include "debug_log.h"
#include "messages.h"
#include "module_files.h"
#include "nodes.h"
#include "regulator.h"
#include "scan.h"
#include "state.h"

ControllerState g_state;

namespace {

// Stamps the cycle with the local time. Should the conversion ever fail, the
// previous stamp and hour stay.
void stamp_time(time_t now) {
    struct tm local;
    if (localtime_r(&now, &local) == nullptr) return;
    // Both buffers hold their longest text, so strftime cannot come back empty.
    (void)strftime(g_state.timeStr, sizeof g_state.timeStr, "%Y-%m-%d %H:%M:%S", &local);
    (void)strftime(g_state.now_time, sizeof g_state.now_time, "%H", &local);
    g_state.time_now = local.tm_hour;
}

// The charging half of a cycle: target, temperatures, the regulator step and
// the write-and-lock of the charge node. False when the node cannot be opened.
[[gnu::always_inline]] inline bool regulate() {
    pick_aim_temp();
    g_state.temp_batery = read_int(kBatteryTempNode);
    g_state.temp_board = read_int(kBoardTempNode);
    const char *node = charge_node(g_state.device_status);
    const int aimFile = open_charge_node(node);
    if (aimFile < 0) {
        perror(kMsgOutputUnopened);
        return false;
    }
    write_aim_current(aimFile, PID_MOD(g_state.in_power, g_state.aim_temp, g_state.temp_batery,
                                       g_state.temp_board));
    g_state.last_error = g_state.error;
    g_state.aim_current = read_back_current(node);
    return true;
}

// One cycle, compiled whole into velmora's loop (and again into run_cycle
// for the simulator), so that the daemon's cycle costs no call more.
[[gnu::always_inline]] inline unsigned cycle(time_t now) {
    g_state.status = read_char(kStatusNode);
    if (!read_config()) return 0;
    stamp_time(now);
    if (strcmp(g_state.status, kChargingToken) != 0) return kIdlePause_s;
    return regulate() ? kChargingPause_s : 0;
}

}  // namespace

bool read_config() {
    ScanInput inputFile;
    if (!scan_open(inputFile, kSettingsFile)) {
        perror(kMsgSettingsUnopened);
        return false;
    }
    const bool complete = read_settings(inputFile, g_state) == kSettingsCount;
    if (!complete) perror(kMsgSettingsIncomplete);
    scan_close(inputFile);
    return complete;
}

void pick_aim_temp() {
    ControllerState &s = g_state;
    s.aim_temp = target_mC(target_of(read_int(brightness_node(s.device)), s.time_now, s), s);
}

unsigned run_cycle(time_t now) {
    return cycle(now);
}

int run_velmora() {
    if (!probe_platform()) return 0;
    for (;;) {
        const unsigned pause_s = cycle(time(nullptr));
        if (pause_s == 0) return 0;
        sleep(pause_s);
        if (g_state.dlog == 1) debug();
    }
}
