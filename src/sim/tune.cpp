// velmora-sim tune: the twin fitted to the log's last days, checked against
// the widest charge in them, swept around today's settings, and the fastest
// setting that stays as cool as asked recommended; the result kept in
// tune.json for the settings page.
#include "tune.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <vector>

#include "check.h"
#include "files.h"
#include "fit.h"
#include "log.h"
#include "log_line.h"
#include "module_files.h"
#include "print.h"
#include "settings.h"
#include "sweep.h"

namespace {

// What tune reads of a log: its last 6 MiB, two days of a line every charging cycle
// (about 300 bytes each), and of those the last two days by their stamps, so
// that a log of any size costs the same.
constexpr size_t kTail_bytes = 6 << 20;
constexpr time_t kSpan_s = 2 * 86400;
// The grid around today's setting: the screen-off target 2 K either way, the
// power as the default sweep's steps around 27 (14, 20, 27, 34).
constexpr int kOffStep_mC = 2000;
constexpr int kPowerSteps[] = {-13, -7, 0, 7};
constexpr int kLowestPriority = 19;  // nice: a tune yields the CPU to everything else
constexpr char kAdvice[] = "charge once from below 30 % with the log on (日志开关=1)";

// A file of the module folder by the name the phone's path gives it.
std::string beside(const std::string &dir, const char *path) {
    return dir + "/" + (strrchr(path, '/') + 1);
}

// The charges' device trees where there is no /dev/shm (a phone): a
// directory of the tune's own, so that the next tune removes what a cancelled
// one left.
std::string trees_of(const TuneOptions &t) {
    return beside(t.dir, kTuneFile) + ".trees";
}

// The stage of a running tune, for the page to poll; a stage that cannot be
// written only leaves the page less informed.
void stage(const TuneOptions &t, const std::string &text) {
    (void)write_atomically(beside(t.dir, kTuneStageFile).c_str(), text + "\n", false);
}

std::string utc_now() {
    const time_t now = time(nullptr);
    struct tm tm;
    gmtime_r(&now, &tm);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

// The log's last kSpan_s by its stamps, from its last kTail_bytes.
Log read_last_days(const std::string &path) {
    const std::string tail = read_tail(path.c_str(), kTail_bytes);
    time_t last = 0;
    bool found = false;
    for (size_t end = tail.size(); end > 0 && !found;) {
        const size_t stop = tail[end - 1] == '\n' ? end - 1 : end;  // the line is [from, stop)
        const size_t feed = stop == 0 ? std::string::npos : tail.rfind('\n', stop - 1);
        const size_t from = feed == std::string::npos ? 0 : feed + 1;
        found = line_stamp(tail.substr(from, stop - from), &last);
        end = from;
    }
    Log log;
    std::istringstream in(tail);
    read_log_lines(in, &log, found ? last - kSpan_s : 0);
    return log;
}

nlohmann::ordered_json log_json(const Log &log) {
    std::set<time_t> days;
    int charges = 0;
    for (size_t i = 0; i < log.lines.size(); ++i) {
        days.insert(log.lines[i].t / 86400);
        charges += log.lines[i].charging && !continues_charge(log, i);
    }
    nlohmann::ordered_json j = {{"lines", log.lines.size()},
                                {"skipped", log.skipped},
                                {"days", days.size()},
                                {"charges", charges},
                                {"charging_minutes", log.charging_s / 60}};
    if (!log.lines.empty()) {
        j["first"] = clock_at(log.lines.front().t, 0);
        j["last"] = clock_at(log.lines.back().t, 0);
    }
    return j;
}

nlohmann::ordered_json run_json(const SweepPoint &x) {
    // NaN (not reached) is written as null.
    return {{"off_temp_mC", x.off_temp_mC},
            {"power", x.power},
            {"minutes_to_80", x.run.to_s(kSweepStop_pct) / 60},
            {"peak_C", x.run.peak_C}};
}

// Today's settings: 配置 beside the log by velmora's reader, else those the
// log's last line charged under.
ControllerState today(const TuneOptions &t, const Log &log) {
    ControllerState s;
    ScanInput in;
    const std::string path = beside(t.dir, kSettingsFile);
    if (scan_open(in, path.c_str())) {
        const bool whole = read_settings(in, s) == kSettingsCount;
        scan_close(in);
        if (whole) return s;
    }
    s = ControllerState{};
    const LogLine &x = log.lines.back();
    s.in_power = x.power, s.night = x.night, s.morning = x.morning;
    s.on_temp = x.on_temp_mC, s.off_temp = x.off_temp_mC;
    return s;
}

// Prints the advice and the last line, and keeps the result in tune.json. 1
// when tune.json cannot be written, else status.
int finish(const TuneOptions &t, nlohmann::ordered_json result, const std::string &last_line,
           int status) {
    std::error_code ignored;
    std::filesystem::remove_all(trees_of(t), ignored);
    result["last_line"] = last_line;
    if (!result.contains("recommendation")) result["recommendation"] = nullptr;
    const std::string json_path = beside(t.dir, kTuneFile);
    if (!write_atomically(json_path.c_str(), result.dump(1) + "\n")) {
        fprintf(stderr, "velmora-sim: cannot write %s: %s\n", json_path.c_str(), strerror(errno));
        stage(t, "failed");
        status = 1;
    } else {
        stage(t, "done");
    }
    printf("%s\n", last_line.c_str());
    return status;
}

// No recommendation, for reason, with what to do about it.
int refuse(const TuneOptions &t, nlohmann::ordered_json result, const std::string &reason,
           const std::string &why) {
    printf("%s\n", why.c_str());
    result["reason"] = reason;
    result["why"] = why;
    return finish(t, std::move(result), "no-recommendation reason=" + reason, 2);
}

// Takes the module's tune lock for as long as this process lives, however it
// ends, and writes this process's pid into it for a cancel (velmoractl tune
// cancel); false when another tune holds it.
bool take_tune_lock(const TuneOptions &t) {
    const std::string lock_path = beside(t.dir, kTuneLockFile);
    const int lock = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0) die("cannot open " + lock_path);
    if (flock(lock, LOCK_EX | LOCK_NB) != 0) return false;
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(lock, 0) != 0 || write(lock, pid.data(), pid.size()) < 0)
        fprintf(stderr, "velmora-sim: %s does not name this tune: %s\n", lock_path.c_str(),
                strerror(errno));
    return true;
}

nlohmann::ordered_json verdict_json(const CheckResult &checked) {
    nlohmann::ordered_json marks = nlohmann::ordered_json::array();
    for (const CheckMark &m : checked.marks)
        marks.push_back(
            {{"level_pct", m.level_pct}, {"log_min", m.log_min}, {"twin_min", m.twin_min}});
    return {{"trusted", checked.status == 0},
            {"text", checked.verdict},
            {"from_pct", checked.from_pct},
            {"to_pct", checked.to_pct},
            {"marks", marks},
            {"log_peak_C", checked.log_peak_C},
            {"twin_peak_C", checked.twin_peak_C},
            {"rms_K", checked.rms_K}};
}

// The settings swept around today's: 息屏温度 a step either side, 功率 by
// kPowerSteps within 1..100; *now_index is today's, swept as it is when it
// lies outside the grid.
std::vector<SweepPoint> grid_around(const ControllerState &now, int *now_index) {
    std::vector<SweepPoint> points;
    *now_index = -1;
    for (int off = now.off_temp - kOffStep_mC; off <= now.off_temp + kOffStep_mC;
         off += kOffStep_mC) {
        for (int step : kPowerSteps) {
            const int power = std::clamp(now.in_power + step, 1, 100);
            if (!points.empty() && points.back().off_temp_mC == off && points.back().power == power)
                continue;  // clamped onto the one before
            if (off == now.off_temp && power == now.in_power)
                *now_index = static_cast<int>(points.size());
            points.push_back({off, power, {}});
        }
    }
    if (*now_index < 0) {
        *now_index = static_cast<int>(points.size());
        points.push_back({now.off_temp, now.in_power, {}});
    }
    return points;
}

// Charges the twin at each point, one after another, saying which in the stage.
void sweep_points(const TuneOptions &t, const Options &o, std::vector<SweepPoint> *points) {
    int64_t start = 0;
    parse_stamp(o.start, &start);
    std::error_code ignored;
    for (size_t i = 0; i < points->size(); ++i) {
        SweepPoint &p = (*points)[i];
        stage(t, "sweeping " + std::to_string(i + 1) + " " + std::to_string(points->size()));
        Options point = o;
        point.off_temp_mC = p.off_temp_mC;
        point.power = p.power;
        std::string root;
        p.run = charge_regulated(point, start, &root);
        std::filesystem::remove_all(root, ignored);
    }
}

nlohmann::ordered_json table_json(const std::vector<SweepPoint> &points, int now_index,
                                  int chosen) {
    nlohmann::ordered_json table = nlohmann::ordered_json::array();
    for (size_t i = 0; i < points.size(); ++i) {
        nlohmann::ordered_json row = run_json(points[i]);
        row["today"] = static_cast<int>(i) == now_index;
        row["recommended"] = static_cast<int>(i) == chosen;
        table.push_back(row);
    }
    return table;
}

}  // namespace

int tune_summary(const TuneOptions &t) {
    struct stat st;
    const bool found = stat(t.log.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    const Log log = found ? read_last_days(t.log) : Log{};
    const nlohmann::ordered_json j = log_json(log);
    printf("log=%s days=%d charges=%d charging_minutes=%.0f enough=%s\n",
           !found            ? "missing"
           : st.st_size == 0 ? "empty"
                             : "yes",
           j["days"].get<int>(), j["charges"].get<int>(), log.charging_s / 60,
           log.charging_s >= kMinCharging_s ? "yes" : "no");
    return 0;
}

int tune(const TuneOptions &t, const Options &base) {
    (void)setpriority(PRIO_PROCESS, 0, kLowestPriority);
    if (!take_tune_lock(t)) {
        fprintf(stderr, "velmora-sim: a tune runs already\n");
        printf("no-recommendation reason=busy\n");
        return 1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(trees_of(t), ignored);  // a cancelled tune's
    stage(t, "reading");
    nlohmann::ordered_json result = {{"when", utc_now()}, {"log_path", t.log}};
    struct stat st;
    if (stat(t.log.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return refuse(t, result, "no-log", "no log at " + t.log + ": " + kAdvice);
    if (st.st_size == 0)
        return refuse(t, result, "empty-log", std::string("the log is empty: ") + kAdvice);
    const Log log = read_last_days(t.log);
    result["log"] = log_json(log);
    if (log.lines.empty())
        return refuse(t, result, "not-velmoras-log",
                      "none of the log's last lines is velmora's: " + std::string(kAdvice));
    if (log.charging_s < kMinCharging_s) {
        char why[200];
        snprintf(why, sizeof why,
                 "the log's last two days hold %.0f minutes of charging; tune needs "
                 "%.0f: %s",
                 log.charging_s / 60, kMinCharging_s / 60, kAdvice);
        return refuse(t, result, "too-little-charging", why);
    }

    std::filesystem::create_directories(trees_of(t), ignored);
    stage(t, "fitting");
    const Fit f = fit(log, base.phone, t.ambient_given);
    result["model"] = model_json(f, log);
    Options o = base;
    o.phone = f.phone;
    o.phone.board_sensor = log.board_sensor;
    o.dlog = 0;
    o.out = t.dir;
    o.trees = trees_of(t);

    stage(t, "checking");
    const CheckResult checked = check_twin(log, o);
    result["verdict"] = verdict_json(checked);
    if (checked.status == 1)
        return refuse(t, result, "no-charge-to-check", checked.verdict + ": " + kAdvice);
    print_check(checked);
    if (checked.status != 0)
        return refuse(t, result, "twin-not-trusted",
                      "the twin does not charge as the log did, so it recommends nothing; a "
                      "longer charge from below 30 % with the log on and the screen off gives it "
                      "more to learn from");

    const ControllerState now = today(t, log);
    o.start = kSweepStart;
    o.stop_soc_pct = kSweepStop_pct;
    o.screen_on_s.clear();
    o.start_battery_C = o.start_board_C = NAN;
    o.start_soc_pct = Options{}.start_soc_pct;
    o.night = now.night, o.morning = now.morning, o.on_temp_mC = now.on_temp;
    int now_index = -1;
    std::vector<SweepPoint> points = grid_around(now, &now_index);
    sweep_points(t, o, &points);
    const SweepPoint &current = points[now_index];
    const double max_peak = std::isnan(t.max_peak_C) ? current.run.peak_C : t.max_peak_C;
    const int chosen = fastest_under(points, max_peak);
    print_sweep_table(points, chosen, now_index, o.phone.capacity_Ah);
    result["table"] = table_json(points, now_index, chosen);
    result["max_peak_C"] = max_peak;
    result["now"] = run_json(current);
    if (chosen < 0) {
        char why[120];
        snprintf(why, sizeof why, "no setting reaches %d %% with its peak at or under %.1f °C",
                 kSweepStop_pct, max_peak);
        return refuse(t, result, "nothing-under-peak", why);
    }
    const SweepPoint &best = points[chosen];
    result["recommendation"] = run_json(best);
    char line[200];
    snprintf(line, sizeof line,
             "recommend off_temp=%d power=%d minutes_to_80=%.1f peak_C=%.1f now_minutes_to_80=%s "
             "now_peak_C=%.1f",
             best.off_temp_mC, best.power, best.run.to_s(kSweepStop_pct) / 60, best.run.peak_C,
             fixed(current.run.to_s(kSweepStop_pct) / 60).c_str(), current.run.peak_C);
    return finish(t, std::move(result), line, 0);
}
