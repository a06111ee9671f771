// The phone's device tree: its nodes and 配置, written whole.
#include "phone_tree.h"

#include <filesystem>
#include <system_error>

#include "files.h"
#include "module_files.h"
#include "nodes.h"
#include "settings.h"

namespace {

// The nodes a reading sets, in NodeTexts' order.
constexpr const char *kReadingNodes[] = {kStatusNode,     kBatteryTempNode, kBoardTempNode,
                                         kCurrentNowNode, kCapacityNode,    kQualcommBacklightNode};

bool put(const std::string &root, const char *file, const std::string &text) {
    return write_atomically((root + "/" + file).c_str(), text, false);
}

}  // namespace

bool publish(const std::string &root, const PhoneReadings &r, NodeTexts *shown) {
    const NodeTexts now = {r.status + "\n",
                           std::to_string(r.battery_dC) + "\n",
                           std::to_string(r.board_mC) + "\n",
                           std::to_string(r.current_uA) + "\n",
                           std::to_string(r.capacity_pct) + "\n",
                           std::to_string(r.backlight) + "\n"};
    for (size_t i = 0; i < now.size(); ++i) {
        if (now[i] != (*shown)[i] && !put(root, kReadingNodes[i], now[i])) return false;
        (*shown)[i] = now[i];
    }
    return true;
}

std::string settings_text(int dlog, int power, int night, int morning, int on_temp_mC,
                          int off_temp_mC, const std::string &version, const std::string &model) {
    using std::to_string;
    const std::string values[kSettingsCount] = {
        to_string(dlog),       to_string(power),       to_string(night), to_string(morning),
        to_string(on_temp_mC), to_string(off_temp_mC), version,          model};
    std::string text;
    for (int i = 0; i < kSettingsCount; ++i) text += kSettingsEntries[i].key + values[i] + "\n";
    return text;
}

bool lay_out_tree(const std::string &root, const PhoneReadings &readings, int32_t limit_uA,
                  const std::string &settings, NodeTexts *shown) {
    std::error_code error;
    const auto make_room = [&](const char *file) {
        std::filesystem::create_directories(std::filesystem::path(root + "/" + file).parent_path(),
                                            error);
    };
    for (const char *node : kReadingNodes) make_room(node);
    make_room(kOldChargeNode);
    make_room(kSettingsFile);
    *shown = NodeTexts{};
    return publish(root, readings, shown) &&
           put(root, kOldChargeNode, std::to_string(limit_uA) + "\n") &&
           put(root, kSettingsFile, settings);
}
