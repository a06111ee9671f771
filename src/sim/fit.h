// Fits the phone model to a PID_log, drives a model through a log, and keeps
// a fitted model in a JSON file.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "log.h"
#include "model.h"

// What a model file holds and a fit may fit.
struct ModelParameter {
    const char *name;
    const char *unit;
    double PhoneParams::*field;
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

struct Fit {
    PhoneParams phone;
    std::vector<bool> fitted;    // by kModelParameters: the log identifies it
    std::vector<double> sigma;   // one standard deviation, in the parameter's unit
    std::vector<bool> at_bound;  // by kModelParameters: fitted but stopped at the edge of
                                 // its range, so the log does not pin it down
    bool converged;              // false: the cap on runs of the model stopped the search
    double rms_K, board_rms_K;   // over the charging lines
    int evaluations;             // runs of the model through the log
};

// Fits the parameters that the log identifies, starting from start: the
// battery's alone without a board sensor, the screen's only when charging
// lines show it both on and off, the ambient unless ambient_given.
Fit fit(const Log &log, const PhoneParams &start, bool ambient_given);

// The fit as a model file: each parameter with its unit, uncertainty and
// whether it was fitted, the RMS errors, and what the log held.
nlohmann::ordered_json model_json(const Fit &f, const Log &log);

// Reads a model file into *p (parameters it lacks keep their values). False,
// with *error set, when it cannot be read or holds a bad value.
bool read_model(const std::string &path, PhoneParams *p, std::string *error);
