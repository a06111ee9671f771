// velmoractl probe: which of velmora's nodes this phone has, by velmora's own
// existence tests, and whether velmora can regulate it; the installer's check.
#include <unistd.h>

#include <string>

#include "commands.h"
#include "nodes.h"

CtlOutput ctl_probe() {
    const struct {
        const char *key, *path;
    } nodes[] = {
        {"battery_status", kStatusNode},
        {"battery_temp", kBatteryTempNode},
        {"board_temp", kBoardTempNode},
        {"qualcomm_backlight", kQualcommBacklightNode},
        {"mediatek_backlight", kMediatekBacklightNode},
        {"old_charge_current", kOldChargeNode},
        {"new_charge_current", kNewChargeNode},
        {"battery_current", kCurrentNowNode},
        {"battery_capacity", kCapacityNode},
    };
    CtlOutput output;
    for (const auto &node : nodes) {
        output.out += std::string(node.key) + "=" +
                      (access(node.path, F_OK) == 0 ? "present" : "missing") + "\n";
    }
    output.out += charger_probe_lines();
    // What velmora cannot do without, by the probe's own existence tests.
    const struct {
        const char *name;
        bool present;
    } needed[] = {
        {"backlight", backlight_family() != nullptr},
        {"battery status", access(kStatusNode, F_OK) == 0},
        {"battery temperature", access(kBatteryTempNode, F_OK) == 0},
        {"charge current", access(charge_node(charge_generation()), F_OK) == 0},
    };
    std::string missing;
    for (const auto &need : needed) {
        if (!need.present) missing += std::string(missing.empty() ? "" : ", ") + need.name;
    }
    output.out += missing.empty() ? "supported=yes\n" : "supported=no\nmissing=" + missing + "\n";
    output.status = missing.empty() ? 0 : 1;
    return output;
}
