// What a simulated charge is given: the phone, how the charge starts and
// runs, and velmora's settings for it; every subcommand's charges take these.
#pragma once

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "cycle.h"
#include "model.h"

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
