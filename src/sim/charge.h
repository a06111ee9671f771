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

#include "cycle.h"
#include "model.h"
#include "phone_tree.h"
#include "wear.h"

constexpr double kMaxCharge_s = 6 * 3600;            // a charge that is not full by then is cut off
constexpr double kSampleEvery_s = kChargingPause_s;  // a run's samples, one per velmora cycle

struct Options {
    PhoneParams phone;
    double start_soc_pct = 15;
    std::string start = "2026-06-01 21:30:00";          // UTC on the faked clock
    double start_battery_C = NAN, start_board_C = NAN;  // NaN: at the ambient
    std::vector<std::array<double, 2>> screen_on_s;     // [from, to) with it on, s
    double speed = 300;  // the faketime path's; the in-process cycle runs as fast as it can
    double minutes = kMaxCharge_s / 60;  // stop here if not full before
    double stop_soc_pct = 100;
    int power = 27, night = 22, morning = 7, on_temp_mC = 40000, off_temp_mC = 38000, dlog = 1;
#ifdef VELMORA_FAKETIME
    bool in_process = false;  // velmora's cycle in this process, not the binary under libfaketime
    std::string velmora = VELMORA_BINARY;
    std::string faketime_library = FAKETIME_LIBRARY;
#else
    bool in_process = true;  // the phone's static build can preload nothing
#endif
    std::string out = "demo-out";
    std::string
        trees;  // where a charge's device tree goes without a /dev/shm ("": a temporary one)
    std::string status = kChargingToken;  // the status node's word at the start
};

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

// Reports what failed with errno's text and ends the program with status 1.
[[noreturn]] void die(const std::string &what);

// "YYYY-MM-DD hh:mm:ss" of t_s seconds after start, UTC.
std::string clock_at(time_t start, double t_s);

// v with one decimal, or "-" when NaN (a mark the charge never reached).
std::string fixed(double v);

// One row of a two-column table: what, then x and y, each padded.
void print_row(const char *what, const std::string &x, const std::string &y);

// The wear column: ‰ of capacity, and times that of the coolest charge.
std::string wear_text(double permille, double coolest_permille);

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
