// One step of the thermal PID regulator that turns the distance between the
// phone's temperature and its target into a charge-current limit.
#pragma once

#include <cstdint>

// The limit per unit of power at each level of drive, uA, and the highest drive.
constexpr int64_t kMicroampsPerPowerPerDrive = 1833;
constexpr int64_t kDriveMax = 100;
// The highest limit PID_MOD returns, uA: its 64-bit product saturates here,
// the largest value of the node's int.
constexpr int32_t kHighestLimit_uA = INT32_MAX;

// Returns the charge-current limit in uA: 1833 uA x in_power x drive (1..100).
// aim_temp and temp_board in m°C (temp_board 0: no board sensor), temp_batery
// in tenths of a °C. Updates temp, error, integral, differential and aim of
// g_state; the caller copies error into last_error once the limit is written.
// Computed in 64 bits and saturated to int32, so no input can overflow.
int32_t PID_MOD(int32_t in_power, int32_t aim_temp, int32_t temp_batery, int32_t temp_board);
