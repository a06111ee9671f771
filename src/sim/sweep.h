// Charges the modelled phone under velmora for a grid of settings, several
// charges at a time, and compares them in a table and a plot.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "charge.h"

// The sweep's clock at the start: daytime, where the screen-off target holds.
constexpr const char *kSweepStart = "2026-06-01 12:00:00";

struct SweepPoint {
    int off_temp_mC, power;
    Run run;
};

// One regulated charge of base's scenario per screen-off target and power,
// jobs (at least 1; in-process one) at a time, each in base.out/off<mC>-power<P>/.
std::vector<SweepPoint> sweep(const Options &base, time_t start,
                              const std::vector<int> &off_temps_mC, const std::vector<int> &powers,
                              unsigned jobs);

// The index of the fastest point to 80 % whose peak stays at or under
// max_peak_C, or -1 (always when max_peak_C is NaN: no --max-peak).
int fastest_under(const std::vector<SweepPoint> &points, double max_peak_C);

// Prints the table, marking the chosen point with "<" and today's setting
// (now; -1: none) with "today", each charge's wear on a cell of capacity_Ah.
void print_sweep_table(const std::vector<SweepPoint> &points, int chosen, int now,
                       double capacity_Ah);

// Prints the table, marking the chosen point, with each charge's wear on a
// cell of capacity_Ah, and writes sweep.csv and, with gnuplot, sweep.png into dir.
void report_sweep(const std::vector<SweepPoint> &points, int chosen, double max_peak_C,
                  double capacity_Ah, const std::string &dir);
