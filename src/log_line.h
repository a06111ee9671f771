// The diagnostic log's line: the template velmora writes it by, and the one
// reader that every program reading PID_log uses (velmoractl series, the
// simulator's fit, replay and check, tools/plot-log, the soak test).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The line's template, the one source of its labels.
constexpr char kLogLineFormat[] =
    "%s,晚上=%d到早上=%d,亮屏温度=%d,息屏温度=%d,状态=%s,功率配置=%d目标温度=%d,电池温度%d,"
    "主板温度%d,平均温度%d,计算值=%d,目标电流=%dmA,当前电流=%dmA,电量=%d,积分值=%d,微分值=%d,"
    "%s,%s,%s,%s\n";

// The template's conversions in order, the order in which velmora's writer
// passes them (debug_log.cpp) and the reader takes them (log_line.cpp).
enum LogField {
    kStampField,         // %s the cycle's time stamp
    kNightField,         // %d night
    kMorningField,       // %d morning
    kOnTempField,        // %d on_temp
    kOffTempField,       // %d off_temp
    kStatusField,        // %s status
    kPowerField,         // %d in_power
    kAimTempField,       // %d aim_temp
    kBatteryField,       // %d temp_batery
    kBoardField,         // %d temp_board
    kWeightedField,      // %d temp
    kDriveField,         // %d aim
    kLimitField,         // %d aim_current
    kCurrentField,       // %d the battery current, mA
    kCapacityField,      // %d the capacity, %
    kIntegralField,      // %d integral
    kDifferentialField,  // %d differential
    kDeviceField,        // %s device
    kGenerationField,    // %s device_status
    kModelField,         // %s phonemodel
    kVersionField,       // %s PID_version
    kLogFieldCount
};
// Each field's conversion, 's' or 'd', by LogField.
constexpr char kLogFieldKinds[] = "sddddsdddddddddddssss";

// Whether the template's conversions are kinds, one by one and no more.
constexpr bool conversions_are(const char *format, const char *kinds) {
    for (; *format != '\0'; ++format) {
        if (*format != '%') continue;
        if (*kinds == '\0' || *++format != *kinds++) return false;
    }
    return *kinds == '\0';
}
static_assert(sizeof kLogFieldKinds - 1 == kLogFieldCount, "a kind for each field");
static_assert(conversions_are(kLogLineFormat, kLogFieldKinds),
              "the template's conversions are the fields, in their order");

// One of velmora's lines, every field as written.
struct LogFields {
    std::string stamp;               // the cycle's start, local time, "YYYY-MM-DD hh:mm:ss"
    int64_t t = 0;                   // that stamp read as UTC, seconds since 1970
    int32_t night = 0, morning = 0;  // hours
    int32_t on_temp_mC = 0, off_temp_mC = 0;  // the two targets of the settings
    std::string status;                       // the status word, "0" when unreadable
    int32_t power = 0;                        // 功率
    int32_t target_mC = 0;                    // the last charging cycle's target
    int32_t battery_dC = 0;                   // 0.1 °C, as read
    int32_t board_mC = 0;                     // 0: no board sensor
    int32_t weighted_mC = 0;                  // 9/10 battery, 1/10 board
    int32_t drive = 0;                        // 1..100
    int32_t limit_mA = 0;                     // read back from the charge node
    int32_t current_mA = 0;                   // into the battery, positive while charging
    int32_t level_pct = 0;
    int32_t integral = 0, differential = 0;  // 0.1 °C
    std::string device, generation;          // the platform's tags
    // The two words of the settings. A model with a comma cannot be told
    // from the version after it: the model is taken to its first comma.
    std::string model, version;
};

// Whether line (without its line feed) is one of velmora's, by its template:
// the text between conversions byte for byte, each number whole within
// int32, each text not empty and running to the template's next text (the
// version to the line's end), and a stamp that is a date and time. Reading
// line after line into one LogFields spares its strings' allocations.
bool parse_log_line(const std::string &line, LogFields *fields);

// A log stamp, "YYYY-MM-DD hh:mm:ss" and nothing else, as seconds since 1970
// read as UTC; false when the text is not one.
bool parse_stamp(std::string_view text, int64_t *t);
