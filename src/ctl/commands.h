// velmoractl's subcommands, one file each: what velmoractl's main dispatches
// to. Every read is bounded and nothing waits; each returns what it prints.
#pragma once

#include <cstdint>
#include <string>

#include "output.h"

// status.cpp: velmora's state now, as key=value lines.
CtlOutput ctl_status();
// probe.cpp: which of velmora's nodes this phone has; status 1 when one it
// cannot do without is missing.
CtlOutput ctl_probe();
// check.cpp: velmora's verdict on a settings file; the eight values of 配置.
CtlOutput ctl_check(const char *path);
CtlOutput ctl_settings();
// save.cpp: the settings page's save of a whole new 配置, given as base64.
CtlOutput ctl_save(const std::string &base64);
// Decodes base64 into bytes and writes them to the settings file's temporary
// sibling for the verdict: status 0 with the file left there, or the output
// of a refusal (the sibling removed).
CtlOutput stage_settings(const std::string &base64, std::string *bytes);
// clear_log.cpp: PID_log emptied, never created.
CtlOutput ctl_clear_log();
// series.cpp: the chart's data, PID_log as a compact numeric table, read
// backwards from a byte offset in blocks and bounded per call: the rows of
// the window from since_t (or, when since_t < 0, the newest stamp minus
// hours) with lines before byte `before` (< 0: the end), then the
// "end log=... since=T skipped=N more=BYTE" line.
CtlOutput ctl_series(int64_t hours, int64_t since_t, int64_t before);
// charger.cpp: the charge node's own value and mode, kept once per boot
// before velmora's first write, and put back when velmora ends.
CtlOutput ctl_charger_keep();
CtlOutput ctl_charger_restore();
// zone.cpp: the phone's time zone resolved into velmora's TZ value.
CtlOutput ctl_zone(const std::string &property);
