// The regulator step on arbitrary 32-bit inputs and state.
#include <cstdlib>
#include <cstring>

#include "regulator.h"
#include "state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    int32_t v[7] = {};
    memcpy(v, data, size < sizeof v ? size : sizeof v);
    g_state = ControllerState{};
    g_state.integral = v[4] % 26;  // the step keeps it within -25..25
    g_state.last_error = v[5];
    const int32_t limit_uA = PID_MOD(v[0], v[1], v[2], v[3]);
    const ControllerState &s = g_state;
    if (s.integral < -25 || s.integral > 25 || s.aim < 1 || s.aim > 100) abort();
    const int64_t exact = int64_t{1833} * v[0] * s.aim;
    const int64_t saturated = exact > INT32_MAX ? INT32_MAX : exact < INT32_MIN ? INT32_MIN : exact;
    if (limit_uA != saturated) abort();
    if (s.last_error != v[5]) abort();
    return 0;
}
