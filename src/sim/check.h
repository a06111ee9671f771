// A forward test of a twin on a log: the twin charged under velmora as the
// log's phone was charged, and the two compared.
#pragma once

#include <string>
#include <vector>

#include "charge.h"
#include "log.h"

// The level where the sweep's charges and check's marks stop, %: beyond it a
// charger's own taper, which varies with the cell's age, sets the pace.
constexpr int kSweepStop_pct = 80;

struct CheckMark {
    int level_pct;
    double log_min, twin_min;  // NaN: not reached
};

struct CheckResult {
    int status = 1;      // 0: the twin can be trusted for sweep, 2: not, 1: no charge to check
    double log_min = 0;  // the charge compared, from its first step of level
    int from_pct = 0, to_pct = 0;
    std::vector<CheckMark> marks;
    double log_peak_C = NAN, twin_peak_C = NAN, rms_K = NAN;
    std::string verdict;  // "trust the twin for sweep: ..." or "do not trust ...: ..."
};

// Charges base's phone under velmora as the log's charge that spans the most
// level went (its settings, clock, first level and temperatures, screen), up
// to where the log reaches kSweepStop_pct or ends, and compares each 10 %
// mark, the peak and the temperature. With base.dlog the twin's PID_log is
// kept in base.out.
CheckResult check_twin(const Log &log, const Options &base);

// Prints the comparison and the verdict; returns r.status.
int print_check(const CheckResult &r);
