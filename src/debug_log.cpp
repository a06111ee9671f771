#include "debug_log.h"

// The diagnostic line is not written yet.
void debug() {}
