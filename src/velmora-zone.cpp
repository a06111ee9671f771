// velmora-zone ZONE: run by the module before velmora, with ZONE the value of
// persist.sys.timezone. Prints the TZ value to start velmora with; when the
// zone cannot be resolved it says why on the error stream, prints "UTC0" and
// exits with status 1.
#include <cstdio>
#include <string>

#include "zone.h"

int main(int argc, char **argv) {
    std::string tz, why;
    const bool resolved = resolve_zone(argc > 1 ? argv[1] : "", &tz, &why);
    if (!resolved) (void)fprintf(stderr, "velmora-zone: %s; velmora runs on UTC\n", why.c_str());
    printf("%s\n", tz.c_str());
    return resolved ? 0 : 1;
}
