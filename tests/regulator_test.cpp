// One PID step on a table of temperatures, states and out-of-range inputs.
#include "regulator.h"

#include <gtest/gtest.h>

#include <climits>

#include "state.h"

namespace {

struct StepCase {
    const char *name;
    int32_t integral, last_error;                         // state before the step
    int32_t in_power, aim_temp_mC, battery_dC, board_mC;  // inputs
    int32_t temp, error, integral_after, differential, aim, limit_uA;
};

TEST(Regulator, StepTable) {
    const StepCase cases[] = {
        {"at target, no board sensor", 0, 0, 27, 39000, 390, 0, 39000, 0, 0, 0, 25, 1833 * 27 * 25},
        {"board alone, truncated", 0, 0, 1, 0, 0, 355, 35, 0, 0, 0, 25, 1833 * 25},
        {"-150 truncates to -1", 0, 0, 1, 38850, 390, 0, 39000, -1, -1, -1, 21, 1833 * 21},
        {"integral clamps high, drive 100", 0, 0, 1, 42900, 390, 0, 39000, 39, 25, 39, 100, 183300},
        {"integral reaches 25", 20, 10, 1, 40000, 390, 0, 39000, 10, 25, 0, 70, 1833 * 70},
        {"drive clamps low to 1", -25, -30, 2, 36000, 390, 0, 39000, -30, -25, 0, 1, 1833 * 2},
        {"weighted with board", 0, 0, 1, 39000, 400, 35000, 39500, -5, -5, -5, 5, 1833 * 5},
        {"power 0 writes 0", 0, 0, 0, 50000, 200, 0, 20000, 300, 25, 300, 100, 0},
        {"negative power", 0, 0, -3, 39000, 390, 0, 39000, 0, 0, 0, 25, -1833 * 3 * 25},
        {"product saturates", 0, 0, 2000000, 39000, 390, 0, 39000, 0, 0, 0, 25, INT32_MAX},
        {"product saturates low", 0, 0, -2000000, 39000, 390, 0, 39000, 0, 0, 0, 25, INT32_MIN},
        {"huge battery reading", 0, 0, 1, 0, INT32_MAX, 0, INT32_MAX, -21474836, -25, -21474836, 1,
         1833},
        {"extreme last error", 0, INT32_MIN, 1, INT32_MAX, 0, 0, 0, 21474836, 25, INT32_MAX, 100,
         183300},
    };
    for (const StepCase &c : cases) {
        SCOPED_TRACE(c.name);
        g_state = ControllerState{};
        g_state.integral = c.integral;
        g_state.last_error = c.last_error;
        EXPECT_EQ(PID_MOD(c.in_power, c.aim_temp_mC, c.battery_dC, c.board_mC), c.limit_uA);
        EXPECT_EQ(g_state.temp, c.temp);
        EXPECT_EQ(g_state.error, c.error);
        EXPECT_EQ(g_state.integral, c.integral_after);
        EXPECT_EQ(g_state.differential, c.differential);
        EXPECT_EQ(g_state.aim, c.aim);
        EXPECT_EQ(g_state.last_error, c.last_error);  // the caller's to copy
    }
}

}  // namespace
