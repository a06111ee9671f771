// The phone's model: the cell's voltage and resistance, the charger, and
// the two thermal nodes stepped each simulated second.
#include "model.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

constexpr double kKelvin = 273.15;
constexpr double kReference_K = 298.15;   // 25 °C, where the resistance is nominal
constexpr double kActivation_K = 2300;    // Arrhenius slope of the resistance
constexpr double kWarmFloor = 0.6;        // the resistance stops falling when hot
constexpr double kLowChargeRise = 0.5;    // +50 % near empty ...
constexpr double kLowChargeScale = 0.08;  // ... fading over the first 8 % of charge
constexpr double kSecondsPerHour = 3600;

struct OcvPoint {
    double soc_pct;
    double mV;
};
constexpr OcvPoint kOcv[] = {{0, 3200},  {2, 3482},  {5, 3646},  {10, 3688}, {20, 3742},
                             {30, 3780}, {40, 3804}, {50, 3846}, {60, 3932}, {70, 4007},
                             {80, 4104}, {90, 4210}, {100, 4300}};

}  // namespace

double open_circuit_V(double soc) {
    const double pct = std::clamp(soc * 100, 0.0, 100.0);
    const OcvPoint *hi =
        std::upper_bound(std::begin(kOcv), std::end(kOcv) - 1, pct,
                         [](double v, const OcvPoint &p) { return v < p.soc_pct; });
    const OcvPoint *lo = hi - 1;
    const double f = (pct - lo->soc_pct) / (hi->soc_pct - lo->soc_pct);
    return (lo->mV + f * (hi->mV - lo->mV)) / 1000;
}

double cell_ohm(const PhoneParams &p, double battery_C, double soc) {
    const double temperature = std::max(
        kWarmFloor, std::exp(kActivation_K * (1 / (battery_C + kKelvin) - 1 / kReference_K)));
    return p.cell_ohm_25C * temperature * (1 + kLowChargeRise * std::exp(-soc / kLowChargeScale));
}

double charge_current_A(const PhoneParams &p, const PhoneState &s, double limit_A,
                        bool *voltage_limited) {
    const double by_voltage =
        (p.charge_voltage_V - open_circuit_V(s.soc)) / cell_ohm(p, s.battery_C, s.soc);
    const double by_limits = std::min(std::max(limit_A, 0.0), p.charger_max_A);
    *voltage_limited = by_voltage < by_limits;
    return std::max(0.0, std::min(by_limits, by_voltage));
}

void step(const PhoneParams &p, PhoneState &s, double limit_A, bool screen_on, double dt_s) {
    bool voltage_limited = false;
    double current = s.full ? 0 : charge_current_A(p, s, limit_A, &voltage_limited);
    // The cell is full at 100 % too: with a 4.45 V limit over a 4.30 V cell the
    // taper would otherwise never reach the cut-off.
    if (!s.full && ((voltage_limited && current < p.full_cutoff_A) || s.soc >= 1)) {
        s.full = true;
        current = 0;
    }
    heat(p, s, current, screen_on, dt_s);
}

void heat(const PhoneParams &p, PhoneState &s, double current, bool screen_on, double dt_s) {
    const double r = cell_ohm(p, s.battery_C, s.soc);
    const double terminal_V = open_circuit_V(s.soc) + current * r;
    const double battery_W = current * current * (r + (current > 0 ? p.charge_heat_ohm : 0));
    // The charger loses its share only while it charges; the system's load is
    // the board's either way.
    const double board_W = (current > 0 ? terminal_V * current * (1 / p.efficiency - 1) : 0) +
                           current * current * p.board_path_ohm + p.idle_load_W +
                           (screen_on ? p.screen_load_W : 0);
    const double to_board_W = (s.battery_C - s.board_C) / p.battery_to_board_K_per_W;
    const double battery_out_W =
        (s.battery_C - p.ambient_C) / p.battery_to_ambient_K_per_W + to_board_W;
    const double board_out_W = (s.board_C - p.ambient_C) / p.board_to_ambient_K_per_W - to_board_W;
    s.battery_C += (battery_W - battery_out_W) * dt_s / p.battery_heat_J_per_K;
    s.board_C += (board_W - board_out_W) * dt_s / p.board_heat_J_per_K;
    s.soc = std::clamp(s.soc + current * dt_s / (p.capacity_Ah * kSecondsPerHour), 0.0, 1.0);
    s.current_A = current;
}
