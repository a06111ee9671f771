// The diagnostic line appended once per cycle while the log switch is 1; its
// template is in log_line.h, beside the reader of what it writes.
#pragma once

// Appends one line of 21 fields to the log file beside the settings: the
// settings, the cycle's readings, the regulator state, the platform tags, and
// the battery current (mA, positive while charging) and capacity (%) read now.
// A log that cannot be opened is reported as kMsgOutputUnopened and skipped; a
// line that a full disk takes only part of is cut off again, unreported.
void debug();
