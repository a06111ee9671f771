// The wear estimate: Schmalstieg, Käbitz, Ecker, Sauer, "A holistic aging
// model for Li(NiMnCo)O2 based 18650 lithium-ion batteries", J. Power Sources
// 257 (2014) 325-334, doi:10.1016/j.jpowsour.2014.02.012, fitted to Sanyo
// UR18650E cells (NMC111 / graphite, 2.15 Ah). Capacity loss, as a fraction:
//   q = alpha_cap * t^0.75 + beta_cap * Q^0.5, t in days, Q in Ah
//   alpha_cap = (7.543 V - 23.75) * 1e6 * exp(-6976 / T)      V open-circuit, T in K
//   beta_cap = 7.348e-3 (V_rms - 3.667)^2 + 7.6e-4 + 4.081e-3 DOD
// The power laws make an interval's loss depend on the loss before it, so
// every charge is priced from the same state of the cell: a year into its
// use, one charge of its capacity a day, where the loss grows by
// 0.75 t^-0.25 per unit of alpha_cap * days and 0.5 Q^-0.5 per unit of
// beta_cap * Ah. Throughput is scaled to the paper's cell by capacity.
#include "wear.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kKelvin = 273.15;
constexpr double kCalendarSlope = 7.543;  // per V
constexpr double kCalendarOffset =
    23.75;  // V × kCalendarSlope minus this: the voltage's factor, 0 at 3.15 V
constexpr double kCalendarScale = 1e6;  // of capacity per day^0.75, before the Arrhenius factor
constexpr double kCalendarActivation_K = 6976;
constexpr double kCycleVoltage = 7.348e-3;     // per V²
constexpr double kCycleVoltageCentre = 3.667;  // V
constexpr double kCycleBase = 7.6e-4;          // of capacity per Ah^0.5
constexpr double kCycleDepth = 4.081e-3;  // of capacity per Ah^0.5, per whole depth of discharge
constexpr double kPaperCell_Ah = 2.15;
constexpr double kReferenceDays = 365;
constexpr double kReferenceCharges = 365;
constexpr double kSecondsPerDay = 86400;
constexpr double kSecondsPerHour = 3600;

// The calendar part's rate alpha_cap, per day^0.75, at an open-circuit
// voltage (V) and a battery temperature (°C).
double calendar_alpha(double ocv_V, double battery_C) {
    return std::max(0.0, kCalendarSlope * ocv_V - kCalendarOffset) * kCalendarScale *
           std::exp(-kCalendarActivation_K / (battery_C + kKelvin));
}

}  // namespace

void add_wear(WearStress &w, const PhoneState &s, double dt_s) {
    const double v = open_circuit_V(s.soc);
    w.calendar += calendar_alpha(v, s.battery_C) * dt_s / kSecondsPerDay;
    w.throughput_Ah += std::max(0.0, s.current_A) * dt_s / kSecondsPerHour;
    w.v2_s += v * v * dt_s;
    w.s += dt_s;
    w.soc_low = std::min(w.soc_low, s.soc);
    w.soc_high = std::max(w.soc_high, s.soc);
}

double wear_permille(const WearStress &w, double capacity_Ah) {
    if (w.s <= 0) return 0;
    const double v_rms = std::sqrt(w.v2_s / w.s);
    const double beta =
        kCycleVoltage * (v_rms - kCycleVoltageCentre) * (v_rms - kCycleVoltageCentre) + kCycleBase +
        kCycleDepth * (w.soc_high - w.soc_low);
    const double q_Ah = w.throughput_Ah * kPaperCell_Ah / capacity_Ah;
    const double calendar = 0.75 * std::pow(kReferenceDays, -0.25) * w.calendar;
    const double cycle = 0.5 / std::sqrt(kReferenceCharges * kPaperCell_Ah) * beta * q_Ah;
    return 1000 * (calendar + cycle);
}
