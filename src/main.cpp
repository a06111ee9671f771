#include "main.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "debug_log.h"
#include "nodes.h"
#include "regulator.h"
#include "scan.h"
#include "state.h"

ControllerState g_state;

namespace {

constexpr char kChargingToken[] = "Charging";
constexpr unsigned kChargingPause_s = 10;
constexpr unsigned kIdlePause_s = 50;
constexpr int32_t kNightTarget_mC = 39000;  // screen off inside the night window

// Stamps the cycle with the local time. Should the conversion ever fail, the
// previous stamp and hour stay.
void stamp_time() {
    const time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) == nullptr) return;
    // Both buffers hold their longest text, so strftime cannot come back empty.
    (void)strftime(g_state.timeStr, sizeof g_state.timeStr, "%Y-%m-%d %H:%M:%S", &local);
    (void)strftime(g_state.now_time, sizeof g_state.now_time, "%H", &local);
    g_state.time_now = local.tm_hour;
}

// The charging half of a cycle: target, temperatures, the regulator step and
// the write-and-lock of the charge node. False when the node cannot be opened.
bool regulate() {
    pick_aim_temp();
    g_state.temp_batery = read_int(kBatteryTempNode);
    g_state.temp_board = read_int(kBoardTempNode);
    const char *node = charge_node(g_state.device_status);
    const int aimFile = open_charge_node(node);
    if (aimFile < 0) {
        perror("无法打开输出文件");
        return false;
    }
    write_aim_current(aimFile, PID_MOD(g_state.in_power, g_state.aim_temp, g_state.temp_batery,
                                       g_state.temp_board));
    g_state.last_error = g_state.error;
    g_state.aim_current = read_back_current(node);
    return true;
}

}  // namespace

bool read_config() {
    ControllerState &s = g_state;
    ScanInput inputFile;
    if (!scan_open(inputFile, kSettingsFile)) {
        perror("无法打开读取配置文件");
        return false;
    }
    // The template "日志开关=%d\n功率=%d\n晚上=%d\n早上=%d\n亮屏温度=%d\n息屏温度=%d\n
    // 版本=%s\n机型=%s": each line feed matches any run of whitespace, possibly
    // empty, and anything after the eighth value is ignored.
    struct Entry {
        const char *key;
        int32_t *number;  // or else a word of word_size bytes at word
        char *word;
        size_t word_size;
    };
    const Entry entries[] = {
        {"日志开关=", &s.dlog, nullptr, 0},
        {"功率=", &s.in_power, nullptr, 0},
        {"晚上=", &s.night, nullptr, 0},
        {"早上=", &s.morning, nullptr, 0},
        {"亮屏温度=", &s.on_temp, nullptr, 0},
        {"息屏温度=", &s.off_temp, nullptr, 0},
        {"版本=", nullptr, s.PID_version, sizeof s.PID_version},
        {"机型=", nullptr, s.phonemodel, sizeof s.phonemodel},
    };
    bool complete = true;
    for (const Entry &e : entries) {
        if (&e != entries) scan_space(inputFile);
        complete = scan_literal(inputFile, e.key) &&
                   (e.number != nullptr ? scan_int(inputFile, e.number)
                                        : scan_word(inputFile, e.word, e.word_size));
        if (!complete) break;
    }
    if (!complete) perror("读取配置数据失败");
    scan_close(inputFile);
    return complete;
}

bool in_night_window(int32_t hour, int32_t night, int32_t morning) {
    if (night < morning) return night <= hour && hour <= morning;
    if (night > morning) return hour >= night || hour <= morning;
    return false;
}

void pick_aim_temp() {
    ControllerState &s = g_state;
    if (read_int(brightness_node(s.device)) != 0) {
        s.aim_temp = s.on_temp;
    } else if (in_night_window(s.time_now, s.night, s.morning)) {
        s.aim_temp = kNightTarget_mC;
    } else {
        s.aim_temp = s.off_temp;
    }
}

int run_velmora() {
    if (!probe_platform()) return 0;
    for (;;) {
        g_state.status = read_char(kStatusNode);
        if (!read_config()) return 0;
        stamp_time();
        if (strcmp(g_state.status, kChargingToken) == 0) {
            if (!regulate()) return 0;
            sleep(kChargingPause_s);
        } else {
            sleep(kIdlePause_s);
        }
        if (g_state.dlog == 1) debug();
    }
}
