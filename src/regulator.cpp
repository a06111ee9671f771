// One PID step, computed in 64 bits and saturated to int32.
#include "regulator.h"

#include <cstdint>

#include "state.h"

namespace {

constexpr int64_t kBatteryWeight = 90;      // tenths of a °C -> 9/10 of it in m°C
constexpr int64_t kBoardDivisor = 10;       // m°C -> 1/10 of it
constexpr int64_t kBatteryOnlyScale = 100;  // tenths of a °C -> m°C, without a board sensor
constexpr int64_t kErrorDivisor = 100;      // m°C -> tenths of a °C
constexpr int32_t kIntegralLimit = 25;
constexpr int64_t kProportionalGain = 2;
constexpr int64_t kBias = 25;  // the drive with the phone exactly at target on a fresh state
constexpr int64_t kDriveMin = 1;

int32_t saturate(int64_t value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

}  // namespace

int32_t PID_MOD(int32_t in_power, int32_t aim_temp, int32_t temp_batery, int32_t temp_board) {
    ControllerState &s = g_state;
    if (temp_board != 0) {
        s.temp = saturate(temp_board / kBoardDivisor + temp_batery * kBatteryWeight);
    } else {
        s.temp = saturate(temp_batery * kBatteryOnlyScale);
    }
    s.error = saturate((int64_t{aim_temp} - s.temp) / kErrorDivisor);

    int64_t integral = int64_t{s.integral} + s.error;
    if (integral > kIntegralLimit) {
        integral = kIntegralLimit;
    } else if (integral < -kIntegralLimit) {
        integral = -kIntegralLimit;
    }
    s.integral = static_cast<int32_t>(integral);
    s.differential = saturate(int64_t{s.error} - s.last_error);

    int64_t drive = kProportionalGain * s.error + kBias + s.integral + s.differential;
    if (drive >= kDriveMax) {
        drive = kDriveMax;
    } else if (drive <= 0) {
        drive = kDriveMin;
    }
    s.aim = static_cast<int32_t>(drive);
    return saturate(kMicroampsPerPowerPerDrive * in_power * s.aim);
}
