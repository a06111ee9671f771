// velmora-sim tune: fit, check, sweep and a recommendation from a phone's own
// log in one command, as the settings page runs it on the phone.
#pragma once

#include <cmath>
#include <string>

#include "charge.h"

struct TuneOptions {
    std::string log;             // velmora's PID_log
    std::string dir;             // where tune.json, its lock and its stage go: the log's folder
    double max_peak_C = NAN;     // NaN: the peak of today's setting on the twin
    bool ambient_given = false;  // base.phone.ambient_C is the room's, not to be fitted
    bool summary = false;        // only say what the log holds
};

// Tunes from the log's last days: prints the sweep's table and a last line
// "recommend off_temp=... power=... minutes_to_80=... peak_C=... now_minutes_to_80=...
// now_peak_C=..." or "no-recommendation reason=...", and writes tune.json.
// Returns 0 with a recommendation, 2 without one, 1 when tune.json cannot be
// written or another tune runs.
int tune(const TuneOptions &t, const Options &base);

// What the log's last two days hold, on one line for the settings page,
// before a tune: "log=yes|missing|empty days=N charges=N charging_minutes=N
// enough=yes|no" (enough: the half hour of charging a tune needs).
int tune_summary(const TuneOptions &t);
