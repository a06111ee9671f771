// The one reader of velmora's log line: it walks the template the line was
// written by.
#include "log_line.h"

#include <cstring>
#include <ctime>
#include <string_view>

#include "decimal.h"

bool parse_stamp(std::string_view text, int64_t *t) {
    constexpr size_t kStampLength = 19;  // "YYYY-MM-DD hh:mm:ss"
    if (text.size() != kStampLength) return false;
    char stamp[kStampLength + 1] = {};
    text.copy(stamp, kStampLength);
    struct tm broken = {};
    const char *end = strptime(stamp, "%Y-%m-%d %H:%M:%S", &broken);
    if (end != stamp + kStampLength) return false;
    *t = timegm(&broken);
    return true;
}

bool parse_log_line(const std::string &line, LogFields *fields) {
    int32_t numbers[kLogFieldCount] = {};
    std::string_view texts[kLogFieldCount];
    const std::string_view rest(line);
    size_t at = 0;
    int conversion = 0;
    for (const char *f = kLogLineFormat; *f != '\0' && *f != '\n';) {
        if (*f != '%') {
            // The text up to the next conversion, byte for byte.
            const size_t length = strcspn(f, "%\n");
            if (rest.compare(at, length, f, length) != 0) return false;
            at += length;
            f += length;
            continue;
        }
        const char kind = f[1];
        f += 2;
        if (kind == 'd') {
            const size_t length = decimal_length(rest.substr(at));
            int64_t value = 0;
            if (!parse_decimal(rest.substr(at, length), INT32_MIN, INT32_MAX, &value)) return false;
            numbers[conversion] = static_cast<int32_t>(value);
            at += length;
        } else {
            // A text runs to the template's next text; the last to the line's end.
            const size_t next_length = strcspn(f, "%\n");
            const size_t end =
                next_length == 0 ? line.size() : rest.find(std::string_view(f, next_length), at);
            if (end == std::string::npos || end == at) return false;
            texts[conversion] = rest.substr(at, end - at);
            at = end;
        }
        ++conversion;
    }
    LogFields &x = *fields;
    if (at != line.size() || !parse_stamp(texts[kStampField], &x.t)) return false;
    // Assigned, so that a LogFields read line after line keeps its strings' room.
    x.stamp.assign(texts[kStampField]);
    x.night = numbers[kNightField], x.morning = numbers[kMorningField];
    x.on_temp_mC = numbers[kOnTempField], x.off_temp_mC = numbers[kOffTempField];
    x.status.assign(texts[kStatusField]);
    x.power = numbers[kPowerField], x.target_mC = numbers[kAimTempField];
    x.battery_dC = numbers[kBatteryField], x.board_mC = numbers[kBoardField];
    x.weighted_mC = numbers[kWeightedField], x.drive = numbers[kDriveField];
    x.limit_mA = numbers[kLimitField], x.current_mA = numbers[kCurrentField];
    x.level_pct = numbers[kCapacityField];
    x.integral = numbers[kIntegralField], x.differential = numbers[kDifferentialField];
    x.device.assign(texts[kDeviceField]), x.generation.assign(texts[kGenerationField]);
    x.model.assign(texts[kModelField]), x.version.assign(texts[kVersionField]);
    return true;
}
