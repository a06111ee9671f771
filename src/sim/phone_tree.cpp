// The phone's device tree: its nodes and 配置, written whole.
#include "phone_tree.h"

#include <filesystem>
#include <system_error>

#include "files.h"
#include "nodes.h"

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
    return "日志开关=" + to_string(dlog) + "\n功率=" + to_string(power) +
           "\n晚上=" + to_string(night) + "\n早上=" + to_string(morning) +
           "\n亮屏温度=" + to_string(on_temp_mC) + "\n息屏温度=" + to_string(off_temp_mC) +
           "\n版本=" + version + "\n机型=" + model + "\n";
}

bool lay_out_tree(const std::string &root, const PhoneReadings &readings, int32_t limit_uA,
                  const std::string &settings, NodeTexts *shown) {
    std::error_code error;
    for (const char *file :
         {kStatusNode, kBatteryTempNode, kBoardTempNode, kCurrentNowNode, kCapacityNode,
          kQualcommBacklightNode, kOldChargeNode, kSettingsFile}) {
        std::filesystem::create_directories(std::filesystem::path(root + "/" + file).parent_path(),
                                            error);
    }
    *shown = NodeTexts{};
    return publish(root, readings, shown) &&
           put(root, kOldChargeNode, std::to_string(limit_uA) + "\n") &&
           put(root, kSettingsFile, settings);
}
