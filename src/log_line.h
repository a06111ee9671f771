// PID_log as a compact numeric table for the settings page's chart, read
// backwards from a byte offset in blocks and bounded per call.
#pragma once

#include <cstdint>
#include <string>

#include "ctl_output.h"

// At most this many rows and bytes of log per call; a day of charging (a line
// every 10 s, 8,640 lines of about 300 bytes) fits in one.
constexpr size_t kMaxSeriesRows = 12000;
constexpr int64_t kMaxSeries_bytes = 8 << 20;

// One log line's chart fields, when it is velmora's: its stamp as written,
// read as UTC (seconds since 1970), battery 0.1 °C, board, target m°C, limit,
// current mA, capacity %.
struct SeriesRow {
    int64_t t = 0;
    int32_t battery_dC = 0, board_mC = 0, target_mC = 0, limit_mA = 0, current_mA = 0,
            level_pct = 0;
};
bool parse_log_line(const std::string &line, SeriesRow *row);
// A log stamp, "YYYY-MM-DD hh:mm:ss" and nothing else, as seconds since 1970
// read as UTC; false when the text is not one.
bool parse_stamp(const std::string &text, int64_t *t);

// The rows of the window from since_t (or, when since_t < 0, the newest stamp
// minus hours) with lines before byte `before` (< 0: the end), then the
// "end log=... since=T skipped=N more=BYTE" line.
CtlOutput ctl_series(int64_t hours, int64_t since_t, int64_t before);
