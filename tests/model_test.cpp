#include "model.h"

#include <gtest/gtest.h>

namespace {

TEST(Model, OpenCircuitVoltageTable) {
    const struct {
        double soc, volts;
    } cases[] = {{-0.1, 3.200}, {0, 3.200}, {0.15, 3.715}, {0.5, 3.846},
                 {0.95, 4.255}, {1, 4.300}, {1.2, 4.300}};
    for (const auto &c : cases) EXPECT_NEAR(open_circuit_V(c.soc), c.volts, 1e-9) << c.soc;
}

// With no charge current only the 0.3 W system load heats the board; the
// network settles at the board's resistance to ambient, 9 || (2 + 9) K/W,
// and the battery at 9 / 11 of the board's rise.
TEST(Model, ConstantHeatingSettlesAtTheThermalResistanceRise) {
    const PhoneParams p;
    PhoneState s{p.ambient_C, p.ambient_C, 0.5};
    for (int t = 0; t < 30000; ++t) step(p, s, 0, false, 1);
    const double board_rise_K = 0.3 * (9.0 * 11.0 / 20.0);
    EXPECT_NEAR(s.board_C - p.ambient_C, board_rise_K, 1e-6);
    EXPECT_NEAR(s.battery_C - p.ambient_C, board_rise_K * 9.0 / 11.0, 1e-6);
}

TEST(Model, ChargerNeverExceedsTheLimit) {
    const PhoneParams p;
    const double limits_A[] = {-1, 0, 0.049, 1.5, 4.9, 5, 20};
    for (double soc : {0.0, 0.15, 0.8, 0.99}) {
        for (double limit : limits_A) {
            PhoneState s{35, 35, soc};
            bool voltage_limited;
            const double current = charge_current_A(p, s, limit, &voltage_limited);
            EXPECT_GE(current, 0);
            EXPECT_LE(current, std::max(limit, 0.0));
            EXPECT_LE(current, p.charger_max_A);
        }
    }
}

TEST(Model, CurrentTapersWhenTheVoltageLimits) {
    const PhoneParams p;
    PhoneState s{35, 35, 0.90};
    bool voltage_limited = false;
    double last_A = charge_current_A(p, s, 5, &voltage_limited);
    EXPECT_TRUE(voltage_limited);
    for (int t = 0; t < 600; ++t) {
        step(p, s, 5, false, 1);
        EXPECT_LT(s.current_A, last_A + 1e-9);
        last_A = s.current_A;
    }
    EXPECT_LT(last_A, 4.0);
}

TEST(Model, ChargeEndsFullAndStays) {
    const PhoneParams p;
    PhoneState s{35, 35, 0.99};
    int seconds = 0;
    while (!s.full && seconds < 3600) step(p, s, 5, false, 1), ++seconds;
    EXPECT_TRUE(s.full);
    EXPECT_DOUBLE_EQ(s.soc, 1);
    step(p, s, 5, false, 1);
    EXPECT_EQ(s.current_A, 0);
}

}  // namespace
