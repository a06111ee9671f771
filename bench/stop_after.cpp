// Preloaded by scripts/bench: ends velmora with exit status 0 at its Nth pause
// (VELMORA_BENCH_CYCLES), so a run holds an exact number of cycles. Every
// earlier pause goes on to the real sleep (libfaketime's when it is preloaded
// after this library), or returns at once with VELMORA_BENCH_NO_PAUSE set.
// Plain C at heart: it must not pull the C++ runtime into the process it measures.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>

namespace {

using Sleep = unsigned (*)(unsigned);
bool ready = false;
unsigned long limit = 0;  // 0: no limit
bool no_pause = false;
Sleep next_sleep = nullptr;
unsigned long pauses = 0;

}  // namespace

extern "C" unsigned sleep(unsigned seconds) {
    if (!ready) {
        const char *cycles = getenv("VELMORA_BENCH_CYCLES");
        limit = cycles != nullptr ? strtoul(cycles, nullptr, 10) : 0;
        no_pause = getenv("VELMORA_BENCH_NO_PAUSE") != nullptr;
        next_sleep = reinterpret_cast<Sleep>(dlsym(RTLD_NEXT, "sleep"));
        ready = true;
    }
    if (limit != 0 && ++pauses >= limit) exit(0);  // exit, so libfaketime cleans up
    return no_pause ? 0 : next_sleep(seconds);
}
