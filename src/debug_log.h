// The diagnostic line appended once per cycle while the log switch is 1.
#pragma once

void debug();
