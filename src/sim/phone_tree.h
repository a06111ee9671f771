// A phone's device tree in a directory, as velmora and velmoractl see it
// through the host build's paths: the nodes of a Qualcomm phone of the older
// generation and the module's 配置, each replaced whole as a kernel node never
// shows half a value. The one layout of the simulator's charges, of
// `velmora-sim tree` and of the tests' phones.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "cycle.h"

// What the nodes read, in the kernel's units.
struct PhoneReadings {
    std::string status = kChargingToken;  // the status node's first word
    int32_t battery_dC = 300;             // 0.1 °C
    int32_t board_mC = 30000;             // m°C
    int32_t current_uA = 0;               // negative while charging, as the kernel counts
    int32_t capacity_pct = 15;
    int32_t backlight = 0;  // 0: screen off
};

// The nodes' texts as last written, so that publish writes only those that change.
using NodeTexts = std::array<std::string, 6>;

// Writes each node of the readings whose text differs from *shown, and keeps
// the new texts there. False (errno set) when a node cannot be written.
bool publish(const std::string &root, const PhoneReadings &readings, NodeTexts *shown);

// 配置's text for the eight settings, one entry a line.
std::string settings_text(int dlog, int power, int night, int morning, int on_temp_mC,
                          int off_temp_mC, const std::string &version, const std::string &model);

// Lays out root: the readings' nodes, the charge node holding limit_uA, and
// 配置. False (errno set) when a file cannot be written.
bool lay_out_tree(const std::string &root, const PhoneReadings &readings, int32_t limit_uA,
                  const std::string &settings, NodeTexts *shown);
