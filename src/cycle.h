// The regulation cycle's constants, which the daemon runs by, the simulator
// models and the settings page quotes (through `velmoractl schema`).
#pragma once

#include <cstdint>

// The battery status's first word while the battery charges.
constexpr char kChargingToken[] = "Charging";
// Pauses after a charging cycle and after an idle one, s.
constexpr unsigned kChargingPause_s = 10;
constexpr unsigned kIdlePause_s = 50;
// Target with the screen off inside the night window, m°C.
constexpr int32_t kNightTarget_mC = 39000;
