// Fits the phone model to a PID_log, drives a model through a log, and keeps
// a fitted model in a JSON file.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "log.h"
#include "model.h"

// What a model file holds and a fit may fit, within a physical range: a
// parameter whose range starts above 0 is searched on a log scale.
struct ModelParameter {
    const char *name;
    const char *unit;
    double PhoneParams::*field;
    double low, high;
};
extern const std::vector<ModelParameter> kModelParameters;

// The model's battery and board temperatures at each charging line of the
// log, driven by the logged current, level and screen from the first
// charging line on (and again after a gap of no lines).
struct Prediction {
    std::vector<double> battery_C, board_C;
};
Prediction replay(const Log &log, const PhoneParams &p);

// Root mean square of predicted - measured over the charging lines, K.
double rms_K(const Log &log, const std::vector<double> &predicted_C, bool board);

// A log with less charging than this does not pin a phone down, s.
constexpr double kMinCharging_s = 30 * 60;

// Fewer lines of the charger's taper leave the cell's resistance and the
// charge voltage at their start: five minutes of it.
constexpr int kMinTaperLines = 30;

struct Fit {
    PhoneParams phone;
    std::vector<bool> fitted;    // by kModelParameters: the log identifies it
    std::vector<double> sigma;   // one standard deviation, in the parameter's unit
    std::vector<bool> at_bound;  // by kModelParameters: fitted but stopped at the edge of
                                 // its range, so the log does not pin it down
    bool converged;              // false: the cap on runs of the model stopped the search
    double rms_K, board_rms_K;   // over the charging lines
    int evaluations;             // runs of the model through the log
    int taper_lines;             // lines where the charger's voltage held the current down
};

// Fits the parameters that the log identifies, starting from start, each
// from what shows it: the capacity from the logged current against the
// level; the cell's resistance and the charger's voltage from the taper (the
// current falling while the limit stays above it); then the heat from the
// temperatures: the battery's side alone without a board sensor, the
// screen's only when charging lines show it both on and off, the ambient
// unless ambient_given.
Fit fit(const Log &log, const PhoneParams &start, bool ambient_given);

// The fit as a model file: each parameter with its unit, uncertainty and
// whether it was fitted, the RMS errors, and what the log held.
nlohmann::ordered_json model_json(const Fit &f, const Log &log);

// Reads a model file into *p (parameters it lacks keep their values, and
// whether the phone has a board sensor comes from the log it was fitted to).
// False, with *error set, when it cannot be read or holds a bad value.
bool read_model(const std::string &path, PhoneParams *p, std::string *error);
