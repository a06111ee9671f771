// The twin of a real phone: the model driven through a PID_log (replay),
// fitted to it (the capacity by least squares, the charger's taper and the
// heat with NLopt), and kept in a JSON model file.
#include "fit.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <nlopt.hpp>

// Each range is what a phone can be, so that a value at its end tells that
// the log does not pin the parameter down rather than a phone beyond reason.
const std::vector<ModelParameter> kModelParameters = {
    // Phone cells hold 2 to 6 Ah.
    {"capacity_Ah", "Ah", &PhoneParams::capacity_Ah, 1, 8},
    // A phone cell's DC resistance at 25 °C: 50-300 mΩ, new to worn.
    {"cell_ohm_25C", "ohm", &PhoneParams::cell_ohm_25C, 0.03, 0.5},
    // From the cell's full open-circuit 4.30 V, below which it never fills,
    // to 4.6 V, above a high-voltage cell's 4.45-4.48 V limit.
    {"charge_voltage_V", "V", &PhoneParams::charge_voltage_V, 4.3, 4.6},
    // None to 1 Ω: at 3 A that is 9 W, more than a phone's whole charging loses.
    {"charge_heat_ohm", "ohm", &PhoneParams::charge_heat_ohm, 0, 1},
    // A cell's 20 J/K (45 g) to a whole 250 g phone's 300 J/K at about 1.1 J/(g K).
    {"battery_heat_J_per_K", "J/K", &PhoneParams::battery_heat_J_per_K, 20, 300},
    {"board_heat_J_per_K", "J/K", &PhoneParams::board_heat_J_per_K, 5, 300},
    // A whole phone in still air is about 3 K/W; one node alone more, to a
    // phone wrapped in a pocket.
    {"battery_to_ambient_K_per_W", "K/W", &PhoneParams::battery_to_ambient_K_per_W, 2, 60},
    {"board_to_ambient_K_per_W", "K/W", &PhoneParams::board_to_ambient_K_per_W, 2, 60},
    // Pressed together through a frame or apart across a mid-frame.
    {"battery_to_board_K_per_W", "K/W", &PhoneParams::battery_to_board_K_per_W, 0.5, 30},
    // Where a phone is charged.
    {"ambient_C", "°C", &PhoneParams::ambient_C, -10, 45},
    // A dim screen to a game's load.
    {"screen_load_W", "W", &PhoneParams::screen_load_W, 0, 6},
};

namespace {

// Places in kModelParameters.
enum Index {
    kCapacity,
    kCell,
    kVoltage,
    kChargeHeat,
    kBatteryHeat,
    kBoardHeat,
    kBatteryAir,
    kBoardAir,
    kBatteryBoard,
    kAmbient,
    kScreen
};
constexpr double kBreak_s = 15 * 60;  // a longer gap without lines starts the model afresh
constexpr double kSecondsPerHour = 3600;
constexpr double kInside = 0.05;          // a start stays this far (of its range) inside the ends
constexpr double kAtBound = 1e-3;         // closer to an end (of the range) is at it
constexpr double kStep = 1e-4;            // the Jacobian's step, relative to values above 1
constexpr double kMinLevelSpan_pct = 10;  // less charging does not pin the capacity down
// A taper line's current is under its limit by 5 % and 50 mA, and under the
// charge's highest current by 5 % (a charger's own cap holds it flat).
constexpr double kTaperShare = 0.95, kTaperMargin_A = 0.05;

struct Problem;
using Residuals = std::vector<double> (*)(const Problem &, const PhoneParams &);

struct Problem {
    const Log &log;
    std::vector<size_t> taper;  // the lines of the charger's taper
    PhoneParams start;
    std::vector<int> free;  // kModelParameters indices being fitted
    Residuals residuals;
    int evaluations = 0;
};

// The optimiser works on each parameter's place in its range, 0..1: on a
// log scale when the range starts above 0.
double value_of(const ModelParameter &m, double x) {
    return m.low > 0 ? m.low * std::pow(m.high / m.low, x) : m.low + x * (m.high - m.low);
}
double place_of(const ModelParameter &m, double value) {
    const double x = m.low > 0 ? std::log(value / m.low) / std::log(m.high / m.low)
                               : (value - m.low) / (m.high - m.low);
    return std::clamp(x, kInside, 1 - kInside);
}

void apply(const Problem &pb, const double *x, PhoneParams *p) {
    *p = pb.start;
    for (size_t i = 0; i < pb.free.size(); ++i) {
        const ModelParameter &m = kModelParameters[pb.free[i]];
        p->*m.field = value_of(m, x[i]);
    }
}

// Predicted - measured at each charging line: the battery's, then the board's.
std::vector<double> heat_residuals(const Problem &pb, const PhoneParams &p) {
    const Prediction predicted = replay(pb.log, p);
    std::vector<double> r;
    size_t k = 0;
    for (const LogLine &x : pb.log.lines) {
        if (!x.charging) continue;
        r.push_back(predicted.battery_C[k] - x.battery_C);
        if (pb.log.board_sensor) r.push_back(predicted.board_C[k] - x.board_C);
        ++k;
    }
    return r;
}

// The charging lines where the current falls (is not above the line's a
// cycle before) while the limit stays above it: the charger's voltage holds it.
std::vector<size_t> taper_lines(const Log &log) {
    double highest_A = 0;
    for (const LogLine &x : log.lines) {
        if (x.charging) highest_A = std::max(highest_A, x.current_A);
    }
    std::vector<size_t> lines;
    for (size_t i = 1; i < log.lines.size(); ++i) {
        const LogLine &x = log.lines[i], &before = log.lines[i - 1];
        if (continues_charge(log, i) && x.current_A > 0 && x.current_A <= before.current_A &&
            x.current_A < kTaperShare * x.limit_A - kTaperMargin_A &&
            x.current_A < kTaperShare * highest_A)
            lines.push_back(i);
    }
    return lines;
}

// Predicted - logged current at each taper line, from its level, battery
// temperature and limit.
std::vector<double> taper_residuals(const Problem &pb, const PhoneParams &p) {
    std::vector<double> r;
    for (size_t i : pb.taper) {
        const LogLine &x = pb.log.lines[i];
        PhoneState s;
        s.battery_C = x.battery_C;
        s.soc = soc_of(x);
        bool voltage_limited;
        r.push_back(charge_current_A(p, s, x.limit_A, &voltage_limited) - x.current_A);
    }
    return r;
}

double objective(unsigned, const double *x, double *, void *data) {
    Problem &pb = *static_cast<Problem *>(data);
    ++pb.evaluations;
    PhoneParams p;
    apply(pb, x, &p);
    double sum = 0;
    for (double r : pb.residuals(pb, p)) sum += r * r;
    return sum;
}

// Fits pb.free by least squares within their ranges into *f: the values,
// one standard deviation each and whether it ended at an end of its range.
void fit_stage(Problem &pb, Fit *f) {
    const size_t n = pb.free.size();
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i) {
        const ModelParameter &m = kModelParameters[pb.free[i]];
        x[i] = place_of(m, pb.start.*m.field);
    }
    nlopt::opt opt(nlopt::LN_BOBYQA, n);
    opt.set_lower_bounds(0.0);
    opt.set_upper_bounds(1.0);
    opt.set_min_objective(objective, &pb);
    opt.set_xtol_abs(1e-5);
    opt.set_ftol_rel(1e-7);
    opt.set_initial_step(kInside);
    opt.set_maxeval(4000);
    double best = 0;
    nlopt::result result = nlopt::ROUNDOFF_LIMITED;
    try {
        result = opt.optimize(x, best);
    } catch (const nlopt::roundoff_limited &) {
        // x holds the best point reached before rounding stopped the search.
    }
    apply(pb, x.data(), &f->phone);
    f->converged = f->converged && result != nlopt::MAXEVAL_REACHED;
    // Uncertainty from the Jacobian at the optimum: sigma^2 = diag((J'J)^-1) * s^2,
    // s^2 the residuals' variance with n fitted parameters taken out.
    const std::vector<double> r0 = pb.residuals(pb, f->phone);
    Eigen::MatrixXd J(r0.size(), n);
    for (size_t i = 0; i < n; ++i) {
        PhoneParams moved = f->phone;
        double PhoneParams::*field = kModelParameters[pb.free[i]].field;
        const double h = kStep * std::max(std::fabs(f->phone.*field), 1.0);
        moved.*field += h;
        const std::vector<double> r = pb.residuals(pb, moved);
        for (size_t k = 0; k < r.size(); ++k) J(k, i) = (r[k] - r0[k]) / h;
    }
    double ssr = 0;
    for (double r : r0) ssr += r * r;
    const double variance = ssr / std::max<double>(1, static_cast<double>(r0.size()) - n);
    const Eigen::MatrixXd covariance = (J.transpose() * J).inverse() * variance;
    for (size_t i = 0; i < n; ++i) {
        f->fitted[pb.free[i]] = true;
        f->at_bound[pb.free[i]] = x[i] <= kAtBound || x[i] >= 1 - kAtBound;
        f->sigma[pb.free[i]] = std::sqrt(covariance(i, i));
    }
    f->evaluations += pb.evaluations + static_cast<int>(n) + 1;
}

// The capacity from the logged current against the level: within each run
// of charging lines, the level (%) against the charge put in since the run
// began (Ah), one slope for all runs, its deviation from the scatter.
void fit_capacity(const Log &log, Fit *f) {
    double sxx = 0, sxy = 0, syy = 0, span = 0;
    size_t points = 0, runs = 0;
    std::vector<std::array<double, 2>> run;  // charge put in, level
    const auto close_run = [&] {
        if (run.size() >= 2) {
            double q = 0, level = 0;
            for (const auto &[dq, dl] : run) q += dq / run.size(), level += dl / run.size();
            for (const auto &[dq, dl] : run) {
                sxx += (dq - q) * (dq - q), sxy += (dq - q) * (dl - level);
                syy += (dl - level) * (dl - level);
            }
            points += run.size(), ++runs;
            span += run.back()[1] - run.front()[1];
        }
        run.clear();
    };
    for (size_t i = 0; i < log.lines.size(); ++i) {
        const LogLine &x = log.lines[i];
        if (!continues_charge(log, i)) close_run();
        if (!x.charging) continue;
        // A line's current is the one over the cycle that ends at its level.
        const double q = run.empty()
                             ? 0
                             : run.back()[0] + x.current_A *
                                                   static_cast<double>(x.t - log.lines[i - 1].t) /
                                                   kSecondsPerHour;
        run.push_back({q, x.level_pct});
    }
    close_run();
    if (span < kMinLevelSpan_pct || sxy <= 0) return;
    const ModelParameter &m = kModelParameters[kCapacity];
    const double slope = sxy / sxx;  // % per Ah
    const double capacity = 100 / slope;
    const double scatter = (syy - slope * sxy) / std::max<double>(1, points - runs - 1);
    f->phone.capacity_Ah = std::clamp(capacity, m.low, m.high);
    f->fitted[kCapacity] = true;
    f->at_bound[kCapacity] = capacity <= m.low || capacity >= m.high;
    f->sigma[kCapacity] = 100 * std::sqrt(scatter / sxx) / (slope * slope);
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
        s.soc = soc_of(x);
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
    Fit f;
    f.phone = start;
    f.fitted.assign(kModelParameters.size(), false);
    f.at_bound.assign(kModelParameters.size(), false);
    f.sigma.assign(kModelParameters.size(), NAN);
    f.converged = true;
    f.evaluations = 0;
    fit_capacity(log, &f);

    Problem taper{log, taper_lines(log), f.phone, {kCell, kVoltage}, taper_residuals};
    f.taper_lines = static_cast<int>(taper.taper.size());
    if (f.taper_lines >= kMinTaperLines) fit_stage(taper, &f);

    // The cell's resistance now stays: the heat it leaves unexplained is the
    // charge path's.
    Problem heat{log, {}, f.phone, {kBatteryHeat, kBatteryAir, kChargeHeat}, heat_residuals};
    if (log.board_sensor) {
        heat.free.insert(heat.free.end(), {kBoardHeat, kBoardAir, kBatteryBoard});
        // The screen's heat shows only beside charging with the screen off.
        if (log.screen_on_lines > 0 && log.screen_on_lines < log.charging_lines)
            heat.free.push_back(kScreen);
    }
    if (!ambient_given) heat.free.push_back(kAmbient);
    fit_stage(heat, &f);

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
                              {"fitted", f.fitted[i]},
                              {"range", {m.low, m.high}}};
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
              {"screen_on_lines", log.screen_on_lines},
              {"taper_lines", f.taper_lines}}}};
}

bool read_model(const std::string &path, PhoneParams *p, std::string *error) {
    std::ifstream in(path);
    if (!in) {
        *error = path + ": cannot open";
        return false;
    }
    try {
        const nlohmann::json model = nlohmann::json::parse(in);
        const nlohmann::json &parameters = model.at("parameters");
        for (const ModelParameter &m : kModelParameters) {
            if (!parameters.contains(m.name)) continue;
            const double value = parameters.at(m.name).at("value").get<double>();
            // What the model cannot run with: a negative heat, resistance or load.
            if (!std::isfinite(value) || (m.low >= 0 && value < 0) || (m.low > 0 && value == 0)) {
                *error = path + ": " + m.name + " is out of range";
                return false;
            }
            p->*m.field = value;
        }
        if (model.contains("log")) p->board_sensor = model.at("log").value("board_sensor", true);
    } catch (const nlohmann::json::exception &e) {
        *error = path + ": not a model file (" + e.what() + ")";
        return false;
    }
    return true;
}
