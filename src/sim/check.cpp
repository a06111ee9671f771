// velmora-sim check: the log's widest charge done again by the twin under
// velmora, compared mark by mark.
#include "check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "print.h"

namespace {

// The twin can be trusted for sweep when it reaches each 10 % mark within
// 10 % of the log's minutes (or 2 minutes, early in the charge), peaks
// within 1 K of the log and follows its temperature within 1 K RMS.
constexpr double kTrustShare = 0.10;
constexpr double kTrustSlack_min = 2;
constexpr double kTrustPeak_K = 1;
constexpr double kTrustRms_K = 1;
constexpr int kMarkStep_pct = 10;

struct Span {
    size_t first, last;  // charging lines of the log, each within a cycle of the one before
};

// The charge that spans the most level (a fast charge from low, not a long
// top-off near full), the earlier of two alike.
Span widest_charge(const Log &log) {
    Span best{0, 0};
    double best_pct = -1;
    for (size_t i = 0; i < log.lines.size(); ++i) {
        if (!log.lines[i].charging) continue;
        size_t j = i;
        while (continues_charge(log, j + 1)) ++j;
        if (log.lines[j].level_pct - log.lines[i].level_pct > best_pct) {
            best = {i, j};
            best_pct = log.lines[j].level_pct - log.lines[i].level_pct;
        }
        i = j;
    }
    return best;
}

// The twin's sample t_s seconds into its charge, or null past its end.
const Sample *sample_at(const Run &run, double t_s) {
    const long k = std::lround(t_s / kSampleEvery_s) - 1;
    if (k < 0) return run.samples.empty() ? nullptr : &run.samples.front();
    return k < static_cast<long>(run.samples.size()) ? &run.samples[k] : nullptr;
}

}  // namespace

CheckResult check_twin(const Log &log, const Options &base) {
    CheckResult r;
    Span span = widest_charge(log);
    // The level is whole percent, rounded down: where it first steps up, the
    // charge is known to the percent.
    for (size_t k = span.first; k < span.last; ++k) {
        if (log.lines[k].level_pct != log.lines[span.first].level_pct) {
            span.first = k;
            break;
        }
    }
    // The compared charge ends where the log reaches the sweep's level.
    for (size_t k = span.first; k < span.last; ++k) {
        if (log.lines[k].level_pct >= kSweepStop_pct) {
            span.last = k;
            break;
        }
    }
    const LogLine &first = log.lines[span.first], &last = log.lines[span.last];
    r.from_pct = static_cast<int>(first.level_pct);
    r.to_pct = static_cast<int>(last.level_pct);
    if (!first.charging || r.to_pct / kMarkStep_pct == r.from_pct / kMarkStep_pct) {
        r.verdict = "no charge in the log passes a 10 % mark of level";
        return r;
    }
    const double log_s = static_cast<double>(last.t - first.t);
    r.log_min = log_s / 60;
    Options o = base;
    o.start = clock_at(first.t, 0);
    o.power = first.power, o.night = first.night, o.morning = first.morning;
    o.on_temp_mC = first.on_temp_mC, o.off_temp_mC = first.off_temp_mC;
    o.start_soc_pct = first.level_pct;
    o.start_battery_C = first.battery_C;
    o.start_board_C = log.board_sensor ? first.board_C : first.battery_C;
    o.phone.board_sensor = log.board_sensor;
    o.stop_soc_pct = last.level_pct;
    o.minutes = std::min(kMaxCharge_s, 2 * log_s + 600) / 60;  // room for a slower twin
    o.screen_on_s.clear();
    for (size_t k = span.first; k <= span.last; ++k) {
        if (!log.lines[k].screen_on) continue;
        const double from = static_cast<double>(log.lines[k].t - first.t);
        const double to = k < span.last ? static_cast<double>(log.lines[k + 1].t - first.t)
                                        : from + kSampleEvery_s;
        if (!o.screen_on_s.empty() && o.screen_on_s.back()[1] == from)
            o.screen_on_s.back()[1] = to;
        else
            o.screen_on_s.push_back({from, to});
    }
    std::filesystem::create_directories(o.out);
    std::string root;
    const Run twin = charge_regulated(o, first.t, &root);
    std::error_code ignored;
    if (o.dlog == 1)
        keep_log(root, o.out);
    else
        std::filesystem::remove_all(root, ignored);

    std::vector<std::string> faults;
    for (int mark = (r.from_pct / kMarkStep_pct + 1) * kMarkStep_pct; mark <= r.to_pct;
         mark += kMarkStep_pct) {
        double log_min = NAN;
        for (size_t k = span.first; k <= span.last && std::isnan(log_min); ++k) {
            if (log.lines[k].level_pct >= mark) log_min = (log.lines[k].t - first.t) / 60.0;
        }
        const double twin_min = twin.to_s(mark) / 60;
        r.marks.push_back({mark, log_min, twin_min});
        if (!(std::fabs(twin_min - log_min) <= std::max(kTrustShare * log_min, kTrustSlack_min)))
            faults.push_back(std::to_string(mark) + " % at " + fixed(twin_min) +
                             " minutes, the log's " + fixed(log_min));
    }
    double log_peak = -INFINITY, sum = 0;
    int compared = 0;
    for (size_t k = span.first; k <= span.last; ++k) {
        const LogLine &x = log.lines[k];
        log_peak = std::max(log_peak, x.battery_C);
        const Sample *twin_at = sample_at(twin, static_cast<double>(x.t - first.t));
        if (twin_at == nullptr) break;
        sum += (twin_at->phone.battery_C - x.battery_C) * (twin_at->phone.battery_C - x.battery_C);
        ++compared;
    }
    r.log_peak_C = log_peak, r.twin_peak_C = twin.peak_C;
    r.rms_K = std::sqrt(sum / std::max(compared, 1));
    char rms_text[16];
    snprintf(rms_text, sizeof rms_text, "%.2f", r.rms_K);
    if (!(std::fabs(twin.peak_C - log_peak) <= kTrustPeak_K))
        faults.push_back("a peak " + fixed(twin.peak_C - log_peak) + " K off the log's");
    if (!(r.rms_K <= kTrustRms_K))
        faults.push_back("temperature RMS " + std::string(rms_text) + " K");
    if (faults.empty()) {
        char text[200];
        snprintf(text, sizeof text,
                 "trust the twin for sweep: every mark within %.0f %% (or %.0f minutes), the peak "
                 "within %.1f K, the temperature within %.1f K RMS",
                 kTrustShare * 100, kTrustSlack_min, kTrustPeak_K, kTrustRms_K);
        r.verdict = text;
        r.status = 0;
        return r;
    }
    r.verdict = "do not trust the twin for sweep: ";
    for (size_t i = 0; i < faults.size(); ++i) r.verdict += (i > 0 ? "; " : "") + faults[i];
    r.status = 2;
    return r;
}

int print_check(const CheckResult &r) {
    if (r.status == 1) {
        fprintf(stderr, "velmora-sim: %s\n", r.verdict.c_str());
        return 1;
    }
    print_row("", "log", "twin");
    for (const CheckMark &m : r.marks) {
        const std::string what = "minutes to " + std::to_string(m.level_pct) + " %";
        print_row(what.c_str(), fixed(m.log_min), fixed(m.twin_min));
    }
    print_row("peak battery temperature, °C", fixed(r.log_peak_C), fixed(r.twin_peak_C));
    char rms_text[16];
    snprintf(rms_text, sizeof rms_text, "%.2f", r.rms_K);
    print_row("battery temperature RMS against the log, K", "", rms_text);
    printf("verdict: %s\n", r.verdict.c_str());
    return r.status;
}
