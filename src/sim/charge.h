// One charge of the modelled phone: under velmora (its own cycle run in this
// process on the simulated clock, or on a host the real binary with its clock
// and ours sped up alike by libfaketime), or with the limit left at the
// charger's maximum.
#pragma once

#include <array>
#include <cmath>
#include <ctime>
#include <string>
#include <vector>

#include "model.h"
#include "options.h"
#include "phone_tree.h"
#include "wear.h"

struct Sample {
    double t_s;
    PhoneState phone;
    double limit_A, target_C;
};

struct Run {
    const char *name = "";
    std::vector<Sample> samples;
    // Seconds to each 10 % of level as the capacity node shows it (to_s(80)).
    std::array<double, 11> to_level_s = {NAN, NAN, NAN, NAN, NAN, NAN, NAN, NAN, NAN, NAN, NAN};
    double to_s(int level_pct) const { return to_level_s[level_pct / 10]; }
    double to_full_s = NAN, peak_C = -INFINITY;
    double above_s = 0;                         // time with the battery over target + 1 °C
    double deviation_sum = 0, deviation_s = 0;  // |battery - target| once the target was reached
    int writes = 0;
    WearStress wear;
};

// Lays out the phone at the start of o's charge in root: its nodes, the
// charge node at the charger's maximum, and 配置 with o's settings.
void lay_out_phone(const Options &o, const std::string &root, NodeTexts *shown);

// Charges with the limit left at the charger's maximum.
Run charge_unregulated(const Options &o, time_t start);

// Charges under velmora in a device tree of its own, which is left in
// *root_out for the caller to take the log from and remove. In-process (one
// charge at a time: the cycle works on the daemon's one state, from the
// tree as working directory), a charge costs CPU time only; under
// libfaketime velmora's standard error goes to o.out/velmora.stderr.
Run charge_regulated(const Options &o, time_t start, std::string *root_out);

// Keeps velmora's PID_log of a regulated charge in out and removes its tree.
void keep_log(const std::string &root, const std::string &out);
