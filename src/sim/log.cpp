// A PID_log pulled from a phone, read by the log's one reader into what the
// model needs: time, charging or not, screen, temperatures, current, level.
#include "log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "log_line.h"

namespace {

constexpr double kCycleCap_s = 60;  // a longer gap between charging lines is no charging

bool parse_line(const std::string &line, LogLine *x) {
    LogFields f;
    if (!parse_log_line(line, &f)) return false;
    x->t = f.t;
    x->charging = f.status == "Charging";
    // The target tells the screen: on when it is the screen-on one, and the two differ.
    x->screen_on = f.target_mC == f.on_temp_mC && f.on_temp_mC != f.off_temp_mC;
    x->battery_C = f.battery_dC / 10.0;
    x->board_C = f.board_mC / 1000.0;
    x->current_A = f.current_mA / 1000.0;
    x->level_pct = f.level_pct;
    return true;
}

}  // namespace

bool read_log(const std::string &path, Log *log, std::string *error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    std::string line;
    time_t last_charging_t = -1;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        LogLine x;
        if (!parse_line(line, &x)) {
            ++log->skipped;
            continue;
        }
        log->lines.push_back(x);
        if (!x.charging) continue;
        ++log->charging_lines;
        log->board_sensor |= x.board_C != 0;
        log->screen_on_lines += x.screen_on;
        if (last_charging_t >= 0)
            log->charging_s += std::clamp<double>(x.t - last_charging_t, 0, kCycleCap_s);
        last_charging_t = x.t;
    }
    if (in.bad()) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    return true;
}
