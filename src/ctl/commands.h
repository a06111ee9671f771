// velmoractl's subcommands, one file each: what velmoractl's main dispatches
// to. Every read is bounded; nothing waits but a save for another save, and
// start-lock, 2 s at most, for a start or stop under way. Each returns what
// it prints.
#pragma once

#include <cstdint>
#include <string>

#include "files.h"
#include "output.h"

// status.cpp: velmora's state now, as key=value lines.
CtlOutput ctl_status();
// probe.cpp: which of velmora's nodes this phone has; status 1 when one it
// cannot do without is missing.
CtlOutput ctl_probe();
// check.cpp: velmora's verdict on a settings file; the eight values of 配置.
CtlOutput ctl_check(const char *path);
CtlOutput ctl_settings();
// save.cpp: the settings page's save of a whole new 配置, given as base64;
// with if_token, only over the 配置 of that version (velmoractl settings'
// token), else status kStaleExit. One save at a time per module.
constexpr int kStaleExit = 3;
CtlOutput ctl_save(const std::string &base64, const char *if_token);
// Decodes base64 into bytes and writes them to a temporary file of their own
// beside the settings file for the verdict: status 0 with the file's name in
// *temp, or the output of a refusal (no file left).
CtlOutput stage_settings(const std::string &base64, std::string *bytes, TempFile *temp);
// schema.cpp: the module's files, the settings' entries and word limit, and
// the cycle's constants, as key=value lines for the page and the scripts.
CtlOutput ctl_schema();
// clear_log.cpp: PID_log emptied, never created.
CtlOutput ctl_clear_log();
// describe.cpp: module.prop's description set to text, the file replaced whole.
CtlOutput ctl_describe(const std::string &text);
// regular.cpp: status 1 and why when path is not a regular file nor missing.
CtlOutput ctl_regular(const std::string &path);
// series.cpp: the chart's data, PID_log as a compact numeric table, read
// backwards from a byte offset in blocks and bounded per call: the rows of
// the window from since_t (or, when since_t < 0, the newest stamp minus
// hours) up to until_t (< 0: any), with lines before byte `before` (< 0: the
// end), then the "end log=... since=T until=U skipped=N more=BYTE" line,
// since=none while no velmora line has set the window and until the oldest
// stamp so far. The window ends at a line stamped after the line that
// follows it, so its time never steps back.
CtlOutput ctl_series(int64_t hours, int64_t since_t, int64_t until_t, int64_t before);
// charger.cpp: the charge node's own value and mode, kept once per boot
// before velmora's first write, and given back when velmora ends: the
// kernel's limit, or velmora's highest where the node showed none.
CtlOutput ctl_charger_keep();
CtlOutput ctl_charger_restore();
// What a stop gives back, as status's restore= lines; and the charge node's
// limit now for probe, with a note when it shows none.
std::string charger_status_lines();
std::string charger_probe_lines();
// start_lock.cpp: the module's start lock taken on descriptor fd for
// start.sh, or status 1 when a velmora runs or another start or stop holds
// it; waits up to 2 s for one under way to show a velmora or end.
CtlOutput ctl_start_lock(int fd);
// tune.cpp: velmora-sim tune for the settings page: start (detached, one at
// a time), status (running, stage, the last tune.json), summary (what the
// log holds), cancel.
CtlOutput ctl_tune(const char *action);
// zone.cpp: the phone's time zone resolved into velmora's TZ value.
CtlOutput ctl_zone(const std::string &property);
