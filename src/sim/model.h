// A phone on a charger, as two lumped thermal nodes (battery and board) and a
// 5000 mAh cell behind a charger that honours the charge-current limit. The
// defaults are a measured phone's: about 1.1 K/min of early heating at 2.6 A,
// 8.3 K per watt at steady state and a 15-minute cool-down; a model file
// written before the charge's own heat was fitted loads with them.
#pragma once

struct PhoneParams {
    double ambient_C = 30;
    double battery_heat_J_per_K = 65;
    double board_heat_J_per_K = 30;
    double battery_to_ambient_K_per_W = 17;
    double board_to_ambient_K_per_W = 18;
    double battery_to_board_K_per_W = 4;
    double capacity_Ah = 5.0;
    double charge_voltage_V = 4.45;  // the charger's voltage limit
    double charger_max_A = 5.0;
    double efficiency = 0.91;       // buck charger; 0.97 for a charge pump
    double cell_ohm_25C = 0.140;    // the cell's resistance at 25 °C, half charged
    double board_path_ohm = 0.020;  // charge path resistance on the board
    double idle_load_W = 0.3;       // the system with the screen off
    double screen_load_W = 1.5;     // added while the screen is on
    double full_cutoff_A = 0.25;    // end of charge in the voltage-limited phase
    // Heat that charging puts into the battery's node besides the cell's own
    // I²R (the charge path, connector and charger beside the cell), as ohms of
    // I²R: the cell's resistance stays the one that shapes the taper.
    double charge_heat_ohm = 0;
    bool board_sensor = true;  // the phone reports a board temperature to velmora
};

struct PhoneState {
    double battery_C = 30;
    double board_C = 30;
    double soc = 0.15;     // state of charge, 0..1
    double current_A = 0;  // into the cell, positive while charging
    bool full = false;     // the charger has stopped ("Full")
};

// Open-circuit voltage of the cell from its state of charge (0..1), in V.
double open_circuit_V(double soc);
// Internal resistance in ohm: higher when cold and near empty.
double cell_ohm(const PhoneParams &p, double battery_C, double soc);
// The current the charger pushes in A, given the node's limit in A (negative:
// nothing), and whether the voltage limit rather than the others binds it.
double charge_current_A(const PhoneParams &p, const PhoneState &s, double limit_A,
                        bool *voltage_limited);
// Advances the phone by dt_s seconds (explicit Euler) under the given limit.
void step(const PhoneParams &p, PhoneState &s, double limit_A, bool screen_on, double dt_s);
// Advances the temperatures and the charge by dt_s seconds with current_A into
// the cell (negative: the phone runs from it), as measured rather than chosen.
void heat(const PhoneParams &p, PhoneState &s, double current_A, bool screen_on, double dt_s);
