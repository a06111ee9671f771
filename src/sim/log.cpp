#include "log.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "series.h"

namespace {

constexpr double kCycleCap_s = 60;  // a longer gap between charging lines is no charging

// The comma-separated fields of a line of velmora's that hold, after their
// "=", the two targets (m°C) and the status, which SeriesRow leaves out.
enum Field { kOnTarget = 2, kOffTarget = 3, kStatus = 4, kFieldsNeeded = 5 };

bool parse_line(const std::string &line, LogLine *x) {
    // The daemon's own template decides what is velmora's line.
    SeriesRow row;
    if (!parse_log_line(line, &row)) return false;
    std::string fields[kFieldsNeeded];
    for (size_t i = 0, from = 0; i < std::size(fields); ++i) {
        const size_t comma = line.find(',', from);
        fields[i] = line.substr(from, comma - from);
        fields[i].erase(0, fields[i].find('=') + 1);
        from = comma + 1;
    }
    const long on_mC = strtol(fields[kOnTarget].c_str(), nullptr, 10);
    const long off_mC = strtol(fields[kOffTarget].c_str(), nullptr, 10);
    x->t = row.t;
    x->charging = fields[kStatus] == "Charging";
    x->screen_on = row.target_mC == on_mC && on_mC != off_mC;
    x->battery_C = row.battery_dC / 10.0;
    x->board_C = row.board_mC / 1000.0;
    x->current_A = row.current_mA / 1000.0;
    x->level_pct = row.level_pct;
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
