// A forward test of a twin on a log: the twin charged under the real velmora
// as the log's phone was charged, and the two compared.
#pragma once

#include "charge.h"
#include "log.h"

// Charges base's phone under velmora as the log's longest charge went (its
// settings, clock, first level and temperatures, screen, and the level it
// ended at), prints the comparison and a verdict, and keeps the twin's
// PID_log in base.out. Returns 0 when the twin can be trusted for sweep, 2
// when not, 1 when the log's charge passes no 10 % mark of level.
int check(const Log &log, const Options &base);
