// What a charge costs the battery: the capacity it takes, by a published
// semi-empirical ageing model of lithium-ion cells, accumulated over the
// charge's seconds.
#pragma once

#include "model.h"

// The charge's stresses: the calendar part's rate integrated over time and
// the cycle part's throughput, with what the cycle's factor depends on.
struct WearStress {
    double calendar = 0;       // integral of alpha_cap over the charge, t in days
    double throughput_Ah = 0;  // charge put into the cell
    double v2_s = 0, s = 0;    // integral of the open-circuit voltage squared (V² s), and time
    double soc_low = 1, soc_high = 0;  // the charge's span, 0..1
};

// Adds dt_s seconds in state s to w.
void add_wear(WearStress &w, const PhoneState &s, double dt_s);

// The capacity the charge costs, ‰ of the cell's, for a cell of capacity_Ah.
double wear_permille(const WearStress &w, double capacity_Ah);
