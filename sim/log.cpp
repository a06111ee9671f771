#include "log.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

constexpr double kCycleCap_s = 60;  // a longer gap between charging lines is no charging

// The log line's fields that the model needs, by their place among the
// comma-separated fields and the label velmora puts before each value.
enum Field { kOnTarget, kOffTarget, kStatus, kTarget, kBattery, kBoard, kCurrent, kLevel };
struct Labelled {
    int index;
    const char *label;
};
constexpr Labelled kFields[] = {
    {2, "亮屏温度="}, {3, "息屏温度="}, {4, "状态="},      {5, "功率配置="},
    {6, "电池温度"},  {7, "主板温度"},  {11, "当前电流="}, {12, "电量="},
};
constexpr const char *kTargetLabel = "目标温度=";  // inside the power field, no comma before
constexpr int kFieldCount = 19;

// The integer right after label at the start of text, ending at end or at
// suffix; false when there is none.
bool number_after(const std::string &text, const char *label, const char *suffix, long *value) {
    const size_t n = strlen(label);
    if (text.compare(0, n, label) != 0) return false;
    const char *start = text.c_str() + n;
    char *end = nullptr;
    errno = 0;
    *value = strtol(start, &end, 10);
    return end != start && errno == 0 && strcmp(end, suffix) == 0;
}

bool parse_line(const std::string &line, LogLine *x) {
    std::vector<std::string> fields;
    for (size_t from = 0;;) {
        const size_t comma = line.find(',', from);
        fields.push_back(line.substr(from, comma - from));
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    if (fields.size() < kFieldCount) return false;
    struct tm tm = {};
    const char *end = strptime(fields[0].c_str(), "%Y-%m-%d %H:%M:%S", &tm);
    if (end == nullptr || *end != '\0') return false;
    x->t = timegm(&tm);
    long v[std::size(kFields)];
    const std::string &power = fields[kFields[kTarget].index];
    const size_t target_at = power.find(kTargetLabel);
    for (size_t i = 0; i < std::size(kFields); ++i) {
        const std::string &text = fields[kFields[i].index];
        if (i == kStatus) {
            if (text.compare(0, strlen(kFields[i].label), kFields[i].label) != 0) return false;
            v[i] = text.substr(strlen(kFields[i].label)) == "Charging";
        } else if (i == kTarget) {
            if (target_at == std::string::npos ||
                !number_after(power.substr(target_at), kTargetLabel, "", &v[i]))
                return false;
        } else if (!number_after(text, kFields[i].label, i == kCurrent ? "mA" : "", &v[i])) {
            return false;
        }
    }
    x->charging = v[kStatus] != 0;
    x->screen_on = v[kTarget] == v[kOnTarget] && v[kOnTarget] != v[kOffTarget];
    x->battery_C = v[kBattery] / 10.0;
    x->board_C = v[kBoard] / 1000.0;
    x->current_A = v[kCurrent] / 1000.0;
    x->level_pct = v[kLevel];
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
