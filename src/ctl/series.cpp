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
// every charging cycle, 8,640 lines of about 300 bytes) fits in one.
constexpr size_t kMaxSeriesRows = 12000;
constexpr int64_t kMaxSeries_bytes = 8 << 20;

// A row of the chart's table.
struct Row {
    int64_t t;
    int32_t battery_dC, board_mC, target_mC, limit_mA, current_mA, level_pct;
};

// PID_log read backwards from byte `end`, a line at a time: pending holds the
// bytes [pos, pos + pending.size()), and the newest line not yet given, with
// its line feed, ends it.
struct Backwards {
    int fd;
    int64_t end, pos;
    bool unfinished;  // the last line may lack its line feed, still being written: cut it
    std::string pending;
};
enum class Step { kLine, kStart, kBound };

// Where a later call resumes: just after the newest line not yet given.
int64_t resume_at(const Backwards &b) {
    return b.pos + static_cast<int64_t>(b.pending.size());
}

// The next line back, without its line feed; kStart at the file's start (or
// a failed read), kBound when it would read past this call's bytes.
Step previous_line(Backwards &b, std::string *line) {
    for (;;) {
        if (!b.unfinished && !b.pending.empty()) {
            const size_t last = b.pending.size() - 1;
            const size_t nl = last == 0 ? std::string::npos : b.pending.rfind('\n', last - 1);
            if (nl != std::string::npos || b.pos == 0) {
                const size_t start = nl == std::string::npos ? 0 : nl + 1;
                line->assign(b.pending, start, last - start);
                b.pending.resize(start);
                return Step::kLine;
            }
        }
        if (b.pos == 0) return Step::kStart;
        if (b.end - b.pos >= kMaxSeries_bytes) return Step::kBound;
        const int64_t n = std::min<int64_t>(b.pos, kBlock_bytes);
        std::string block(static_cast<size_t>(n), '\0');
        b.pos -= n;
        if (pread(b.fd, block.data(), block.size(), b.pos) != n) return Step::kStart;
        b.pending.insert(0, block);
        if (b.unfinished) {
            const size_t nl = b.pending.rfind('\n');
            if (nl == std::string::npos && b.pos > 0) continue;
            b.pending.resize(nl == std::string::npos ? 0 : nl + 1);
            b.unfinished = false;
        }
    }
}

// The window's rows, newest first, read back from b: the window starts at
// since_t (when < 0, at the newest stamp minus hours) and follows the file's
// order, ending where the stamps leave it or step back (a line stamped after
// the one that follows it: the clock was set back there).
struct Window {
    int64_t since_t, until_t;
    std::vector<Row> rows;
    size_t skipped = 0;
    int64_t more = 0;  // where the next call resumes; 0 when the window is whole
};
void read_window(Backwards &b, int64_t hours, Window *w) {
    LogFields f;  // one set of fields, line after line
    std::string line;
    for (;;) {
        if (w->rows.size() >= kMaxSeriesRows) {
            w->more = resume_at(b);
            return;
        }
        const Step step = previous_line(b, &line);
        if (step == Step::kStart) return;
        if (step == Step::kBound) {
            // A line longer than the bound: the part read is skipped, so that
            // the next call moves on instead of asking for it again.
            w->more = resume_at(b);
            if (w->more == b.end) {
                w->more = b.pos;
                ++w->skipped;
            }
            return;
        }
        if (!parse_log_line(line, &f)) {
            ++w->skipped;
            continue;
        }
        if (w->since_t < 0) w->since_t = std::max<int64_t>(0, f.t - hours * kSecondsPerHour);
        if (f.t < w->since_t || (w->until_t >= 0 && f.t > w->until_t)) return;
        w->until_t = f.t;
        w->rows.push_back(
            Row{f.t, f.battery_dC, f.board_mC, f.target_mC, f.limit_mA, f.current_mA, f.level_pct});
    }
}

}  // namespace

CtlOutput ctl_series(int64_t hours, int64_t since_t, int64_t until_t, int64_t before) {
    CtlOutput output{0, "t,battery_dC,board_mC,target_mC,limit_mA,current_mA,level_pct\n", ""};
    std::string why;
    const int fd = open_regular(kLogFile, O_RDONLY, &why);
    struct stat st;
    // A link, directory or FIFO in its place is not read: "other".
    const char *state = fd < 0 && not_regular(kLogFile).empty() ? "missing" : "other";
    Window w{since_t, until_t, {}};
    if (fd >= 0 && fstat(fd, &st) == 0) {
        const int64_t end = before < 0 || before > st.st_size ? st.st_size : before;
        state = end == 0 ? "empty" : "ok";
        Backwards b{fd, end, end, before < 0, ""};
        read_window(b, hours, &w);
    }
    if (fd >= 0) close(fd);
    char text[160];
    for (auto row = w.rows.rbegin(); row != w.rows.rend(); ++row) {
        (void)snprintf(text, sizeof text, "%lld,%d,%d,%d,%d,%d,%d\n",
                       static_cast<long long>(row->t), row->battery_dC, row->board_mC,
                       row->target_mC, row->limit_mA, row->current_mA, row->level_pct);
        output.out += text;
    }
    // No velmora line yet: the window's start stays open, for the next slice's
    // newest velmora line to set.
    const std::string since = w.since_t < 0 ? "none" : std::to_string(w.since_t),
                      until = w.until_t < 0 ? "none" : std::to_string(w.until_t);
    (void)snprintf(text, sizeof text, "end log=%s since=%s until=%s skipped=%zu more=%lld\n", state,
                   since.c_str(), until.c_str(), w.skipped, static_cast<long long>(w.more));
    output.out += text;
    return output;
}
