// A PID_log pulled from a phone, read by the log's one reader into what the
// model needs: time, charging or not, screen, temperatures, current, level,
// limit, and the settings.
#include "log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "cycle.h"
#include "log_line.h"
#include "settings.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400, kSecondsPerHour = 3600;

bool parse_line(const std::string &line, LogLine *x) {
    LogFields f;
    if (!parse_log_line(line, &f)) return false;
    x->t = f.t;
    x->charging = f.status == kChargingToken;
    // The target tells the screen: on when it is the screen-on one and the
    // screen off would have given another at that hour, by velmora's own rule.
    ControllerState settings;
    settings.night = f.night, settings.morning = f.morning;
    settings.on_temp = f.on_temp_mC, settings.off_temp = f.off_temp_mC;
    const auto hour = static_cast<int32_t>((f.t % kSecondsPerDay + kSecondsPerDay) %
                                           kSecondsPerDay / kSecondsPerHour);
    x->screen_on = f.target_mC == f.on_temp_mC &&
                   target_mC(target_of(0, hour, settings), settings) != f.target_mC;
    x->battery_C = f.battery_dC / 10.0;
    x->board_C = f.board_mC / 1000.0;
    x->current_A = f.current_mA / 1000.0;
    x->level_pct = f.level_pct;
    x->limit_A = f.limit_mA / 1000.0;
    x->power = f.power, x->night = f.night, x->morning = f.morning;
    x->on_temp_mC = f.on_temp_mC, x->off_temp_mC = f.off_temp_mC;
    return true;
}

}  // namespace

bool read_log(const std::string &path, Log *log, std::string *error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    read_log_lines(in, log);
    if (in.bad()) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    return true;
}

void read_log_lines(std::istream &in, Log *log, time_t since) {
    std::string line;
    time_t last_charging_t = -1;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        LogLine x;
        if (!parse_line(line, &x)) {
            ++log->skipped;
            continue;
        }
        if (x.t < since) continue;
        log->lines.push_back(x);
        if (!x.charging) continue;
        ++log->charging_lines;
        log->board_sensor |= x.board_C != 0;
        log->screen_on_lines += x.screen_on;
        if (last_charging_t >= 0)
            log->charging_s += std::clamp<double>(x.t - last_charging_t, 0, kCycleCap_s);
        last_charging_t = x.t;
    }
}

bool line_stamp(std::string line, time_t *t) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    LogFields f;
    if (!parse_log_line(line, &f)) return false;
    *t = f.t;
    return true;
}
