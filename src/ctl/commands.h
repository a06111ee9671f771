// velmoractl's view of velmora and the phone: its state now (status), which
// nodes exist (probe), the charge node's own value kept and put back
// (charger), the log emptied (clear-log) and the time zone resolved (zone).
// Every read is bounded and nothing waits.
#pragma once

#include <string>

#include "ctl_output.h"

CtlOutput ctl_status();
CtlOutput ctl_probe();
CtlOutput ctl_charger_keep();
CtlOutput ctl_charger_restore();
CtlOutput ctl_clear_log();
CtlOutput ctl_zone(const std::string &property);
