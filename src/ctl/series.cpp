// velmoractl series: the chart's data. PID_log is read backwards from a byte
// offset in blocks, each line by the log's one reader, bounded per call.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "files.h"
#include "log_line.h"
#include "module_files.h"

namespace {

constexpr size_t kBlock_bytes = 64 << 10;
constexpr int64_t kSecondsPerHour = 3600;
// At most this many rows and bytes of log per call; a day of charging (a line
// every 10 s, 8,640 lines of about 300 bytes) fits in one.
constexpr size_t kMaxSeriesRows = 12000;
constexpr int64_t kMaxSeries_bytes = 8 << 20;

// A row of the chart's table.
struct Row {
    int64_t t;
    int32_t battery_dC, board_mC, target_mC, limit_mA, current_mA, level_pct;
};

}  // namespace

CtlOutput ctl_series(int64_t hours, int64_t since_t, int64_t until_t, int64_t before) {
    CtlOutput output{0, "t,battery_dC,board_mC,target_mC,limit_mA,current_mA,level_pct\n", ""};
    std::string why;
    const int fd = open_regular(kLogFile, O_RDONLY, &why);
    struct stat st;
    // A link, directory or FIFO in its place is not read: "other".
    const char *state = fd < 0 && not_regular(kLogFile).empty() ? "missing" : "other";
    std::vector<Row> rows;  // newest first
    LogFields line_fields;
    size_t skipped = 0;
    int64_t more = 0;
    if (fd >= 0 && fstat(fd, &st) == 0) {
        const int64_t end = before < 0 || before > st.st_size ? st.st_size : before;
        state = end == 0 ? "empty" : "ok";
        // pending holds the bytes [pos, line_end): the newest line not yet taken
        // lies at its end, and only its bytes after the last line feed are cut.
        std::string pending;
        int64_t pos = end;
        bool first = before < 0;  // a last line without its line feed is still being written
        bool done = false;
        while (!done && pos > 0) {
            if (end - pos >= kMaxSeries_bytes || rows.size() >= kMaxSeriesRows) {
                more = pos + static_cast<int64_t>(pending.size());
                // A line longer than the bound: the part read is skipped, so
                // that the next call moves on instead of asking for it again.
                if (more == end) {
                    more = pos;
                    ++skipped;
                }
                break;
            }
            const size_t n = static_cast<size_t>(pos < static_cast<int64_t>(kBlock_bytes)
                                                     ? pos
                                                     : static_cast<int64_t>(kBlock_bytes));
            std::string block(n, '\0');
            pos -= static_cast<int64_t>(n);
            if (pread(fd, block.data(), n, pos) != static_cast<ssize_t>(n)) break;
            pending.insert(0, block);
            if (first) {
                const size_t nl = pending.rfind('\n');
                if (nl == std::string::npos && pos > 0) continue;
                pending.resize(nl == std::string::npos ? 0 : nl + 1);
                first = false;
            }
            // Every line whose line feed before it is in hand (or the file's first).
            for (;;) {
                if (pending.empty()) break;
                const size_t last = pending.size() - 1;  // pending ends with the line's line feed
                const size_t nl = last == 0 ? std::string::npos : pending.rfind('\n', last - 1);
                if (nl == std::string::npos && pos > 0) break;
                const size_t start = nl == std::string::npos ? 0 : nl + 1;
                const std::string line = pending.substr(start, last - start);
                if (rows.size() >= kMaxSeriesRows) {
                    more = pos + static_cast<int64_t>(pending.size());
                    done = true;
                    break;
                }
                pending.resize(start);
                const LogFields &f = line_fields;
                if (!parse_log_line(line, &line_fields)) {
                    ++skipped;
                    continue;
                }
                // The window follows the file's order: it ends where the
                // stamps leave it or step back (a line stamped after the one
                // that follows it: the clock was set back there).
                if (since_t < 0) since_t = std::max<int64_t>(0, f.t - hours * kSecondsPerHour);
                if (f.t < since_t || (until_t >= 0 && f.t > until_t)) {
                    done = true;
                    break;
                }
                until_t = f.t;
                rows.push_back(Row{f.t, f.battery_dC, f.board_mC, f.target_mC, f.limit_mA,
                                   f.current_mA, f.level_pct});
            }
        }
    }
    if (fd >= 0) close(fd);
    char text[160];
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        (void)snprintf(text, sizeof text, "%lld,%d,%d,%d,%d,%d,%d\n",
                       static_cast<long long>(row->t), row->battery_dC, row->board_mC,
                       row->target_mC, row->limit_mA, row->current_mA, row->level_pct);
        output.out += text;
    }
    // No velmora line yet: the window's start stays open, for the next slice's
    // newest velmora line to set.
    const std::string since = since_t < 0 ? "none" : std::to_string(since_t),
                      until = until_t < 0 ? "none" : std::to_string(until_t);
    (void)snprintf(text, sizeof text, "end log=%s since=%s until=%s skipped=%zu more=%lld\n", state,
                   since.c_str(), until.c_str(), skipped, static_cast<long long>(more));
    output.out += text;
    return output;
}
