// The twin of a real phone: the model driven through a PID_log (replay),
// fitted to it with NLopt (fit), and kept in a JSON model file.
#include "fit.h"

#include <Eigen/Dense>
#include <cmath>
#include <fstream>
#include <nlopt.hpp>

const std::vector<ModelParameter> kModelParameters = {
    {"battery_heat_J_per_K", "J/K", &PhoneParams::battery_heat_J_per_K},
    {"board_heat_J_per_K", "J/K", &PhoneParams::board_heat_J_per_K},
    {"battery_to_ambient_K_per_W", "K/W", &PhoneParams::battery_to_ambient_K_per_W},
    {"board_to_ambient_K_per_W", "K/W", &PhoneParams::board_to_ambient_K_per_W},
    {"battery_to_board_K_per_W", "K/W", &PhoneParams::battery_to_board_K_per_W},
    {"cell_ohm_25C", "ohm", &PhoneParams::cell_ohm_25C},
    {"ambient_C", "°C", &PhoneParams::ambient_C},
    {"screen_load_W", "W", &PhoneParams::screen_load_W},
};

namespace {

// Places in kModelParameters.
enum Index {
    kBatteryHeat,
    kBoardHeat,
    kBatteryAir,
    kBoardAir,
    kBatteryBoard,
    kCell,
    kAmbient,
    kScreen
};
constexpr double kBreak_s = 15 * 60;  // a longer gap without lines starts the model afresh
constexpr double kScaleBound = 8;     // a fitted value stays within 1/8 .. 8 times the start
constexpr double kAmbientBound_K = 25;
constexpr double kAtBound = 1e-3;  // closer to a bound (in x: log scale, or K) is at it
constexpr double kStep = 1e-4;     // the Jacobian's step, relative to values above 1

struct Problem {
    const Log &log;
    PhoneParams start;
    std::vector<int> free;  // kModelParameters indices being fitted
    int evaluations = 0;
};

// The optimiser works on log(value / start), and on ambient - start in K.
void apply(const Problem &pb, const double *x, PhoneParams *p) {
    *p = pb.start;
    for (size_t i = 0; i < pb.free.size(); ++i) {
        double PhoneParams::*field = kModelParameters[pb.free[i]].field;
        p->*field =
            pb.free[i] == kAmbient ? pb.start.*field + x[i] : pb.start.*field * std::exp(x[i]);
    }
}

// Predicted - measured at each charging line: the battery's, then the board's.
std::vector<double> residuals(const Log &log, const PhoneParams &p) {
    const Prediction predicted = replay(log, p);
    std::vector<double> r;
    size_t k = 0;
    for (const LogLine &x : log.lines) {
        if (!x.charging) continue;
        r.push_back(predicted.battery_C[k] - x.battery_C);
        if (log.board_sensor) r.push_back(predicted.board_C[k] - x.board_C);
        ++k;
    }
    return r;
}

double objective(unsigned, const double *x, double *, void *data) {
    Problem &pb = *static_cast<Problem *>(data);
    ++pb.evaluations;
    PhoneParams p;
    apply(pb, x, &p);
    double sum = 0;
    for (double r : residuals(pb.log, p)) sum += r * r;
    return sum;
}

}  // namespace

Prediction replay(const Log &log, const PhoneParams &p) {
    Prediction out;
    PhoneState s;
    const LogLine *previous = nullptr;
    for (const LogLine &x : log.lines) {
        if (previous != nullptr && x.t - previous->t > kBreak_s) previous = nullptr;
        if (previous == nullptr) {
            if (!x.charging) continue;  // an idle line before any charging holds no reading
            s.battery_C = x.battery_C;
            s.board_C = log.board_sensor ? x.board_C : x.battery_C;
        } else {
            // The logged current was read at the end of the previous cycle's
            // pause, so it is the current over the interval that cycle began.
            const bool screen_on = previous->charging && previous->screen_on;
            for (time_t t = previous->t; t < x.t; ++t)
                heat(p, s, previous->current_A, screen_on, 1);
        }
        s.soc = (x.level_pct + 0.5) / 100;  // the level is whole percent, rounded down
        if (x.charging) {
            out.battery_C.push_back(s.battery_C);
            out.board_C.push_back(s.board_C);
        }
        previous = &x;
    }
    return out;
}

double rms_K(const Log &log, const std::vector<double> &predicted_C, bool board) {
    double sum = 0;
    size_t k = 0;
    for (const LogLine &x : log.lines) {
        if (!x.charging) continue;
        const double d = predicted_C[k++] - (board ? x.board_C : x.battery_C);
        sum += d * d;
    }
    return k > 0 ? std::sqrt(sum / k) : NAN;
}

Fit fit(const Log &log, const PhoneParams &start, bool ambient_given) {
    Problem pb{log, start, {kBatteryHeat, kBatteryAir, kCell}};
    if (log.board_sensor) {
        pb.free.insert(pb.free.end(), {kBoardHeat, kBoardAir, kBatteryBoard});
        // The screen's heat shows only beside charging with the screen off.
        if (log.screen_on_lines > 0 && log.screen_on_lines < log.charging_lines)
            pb.free.push_back(kScreen);
    }
    if (!ambient_given) pb.free.push_back(kAmbient);
    const size_t n = pb.free.size();

    nlopt::opt opt(nlopt::LN_BOBYQA, n);
    std::vector<double> low(n, -std::log(kScaleBound)), high(n, std::log(kScaleBound));
    for (size_t i = 0; i < n; ++i) {
        if (pb.free[i] == kAmbient) low[i] = -kAmbientBound_K, high[i] = kAmbientBound_K;
    }
    opt.set_lower_bounds(low);
    opt.set_upper_bounds(high);
    opt.set_min_objective(objective, &pb);
    opt.set_xtol_rel(1e-4);
    opt.set_ftol_rel(1e-7);
    opt.set_initial_step(0.2);  // a fifth of a value, or 0.2 K of ambient
    opt.set_maxeval(4000);
    std::vector<double> x(n, 0);
    double best = 0;
    nlopt::result result = nlopt::ROUNDOFF_LIMITED;
    try {
        result = opt.optimize(x, best);
    } catch (const nlopt::roundoff_limited &) {
        // x holds the best point reached before rounding stopped the search.
    }

    Fit f;
    apply(pb, x.data(), &f.phone);
    f.converged = result != nlopt::MAXEVAL_REACHED;
    f.fitted.assign(kModelParameters.size(), false);
    f.at_bound.assign(kModelParameters.size(), false);
    f.sigma.assign(kModelParameters.size(), NAN);
    // Uncertainty from the Jacobian at the optimum: sigma^2 = diag((J'J)^-1) * s^2,
    // s^2 the residuals' variance with n fitted parameters taken out.
    const std::vector<double> r0 = residuals(log, f.phone);
    Eigen::MatrixXd J(r0.size(), n);
    for (size_t i = 0; i < n; ++i) {
        PhoneParams moved = f.phone;
        double PhoneParams::*field = kModelParameters[pb.free[i]].field;
        const double h = kStep * std::max(std::fabs(f.phone.*field), 1.0);
        moved.*field += h;
        const std::vector<double> r = residuals(log, moved);
        for (size_t k = 0; k < r.size(); ++k) J(k, i) = (r[k] - r0[k]) / h;
    }
    double ssr = 0;
    for (double r : r0) ssr += r * r;
    const double variance = ssr / std::max<double>(1, static_cast<double>(r0.size()) - n);
    const Eigen::MatrixXd covariance = (J.transpose() * J).inverse() * variance;
    for (size_t i = 0; i < n; ++i) {
        f.fitted[pb.free[i]] = true;
        f.at_bound[pb.free[i]] = x[i] <= low[i] + kAtBound || x[i] >= high[i] - kAtBound;
        f.sigma[pb.free[i]] = std::sqrt(covariance(i, i));
    }
    f.evaluations = pb.evaluations + static_cast<int>(n) + 1;
    const Prediction predicted = replay(log, f.phone);
    f.rms_K = rms_K(log, predicted.battery_C, false);
    f.board_rms_K = log.board_sensor ? rms_K(log, predicted.board_C, true) : NAN;
    return f;
}

nlohmann::ordered_json model_json(const Fit &f, const Log &log) {
    nlohmann::ordered_json parameters;
    for (size_t i = 0; i < kModelParameters.size(); ++i) {
        const ModelParameter &m = kModelParameters[i];
        parameters[m.name] = {{"value", f.phone.*m.field},
                              {"unit", m.unit},
                              {"sigma", f.fitted[i] ? nlohmann::ordered_json(f.sigma[i]) : nullptr},
                              {"fitted", f.fitted[i]}};
    }
    return {{"parameters", parameters},
            {"rms_K", f.rms_K},
            {"board_rms_K", log.board_sensor ? nlohmann::ordered_json(f.board_rms_K) : nullptr},
            {"log",
             {{"lines", log.lines.size()},
              {"charging_lines", log.charging_lines},
              {"charging_minutes", log.charging_s / 60},
              {"skipped", log.skipped},
              {"board_sensor", log.board_sensor},
              {"screen_on_lines", log.screen_on_lines}}}};
}

bool read_model(const std::string &path, PhoneParams *p, std::string *error) {
    std::ifstream in(path);
    if (!in) {
        *error = path + ": cannot open";
        return false;
    }
    try {
        const nlohmann::json parameters = nlohmann::json::parse(in).at("parameters");
        for (const ModelParameter &m : kModelParameters) {
            if (!parameters.contains(m.name)) continue;
            const double value = parameters.at(m.name).at("value").get<double>();
            if (!std::isfinite(value) || (m.field != &PhoneParams::ambient_C && value <= 0)) {
                *error = path + ": " + m.name + " is out of range";
                return false;
            }
            p->*m.field = value;
        }
    } catch (const nlohmann::json::exception &e) {
        *error = path + ": not a model file (" + e.what() + ")";
        return false;
    }
    return true;
}
