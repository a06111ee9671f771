// A phone's device tree in a temporary directory, written in the kernel's units.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "nodes.h"
#include "state.h"

namespace fs = std::filesystem;

// Replaces the file whole (a temporary file, then rename), as a kernel node
// never shows a half-written value to a running velmora.
inline void put(const fs::path &path, const std::string &content) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    fs::path tmp = path;
    tmp += ".new";
    std::ofstream(tmp, std::ios::binary | std::ios::trunc) << content;
    fs::rename(tmp, path);
}

inline std::string slurp(const fs::path &path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

inline std::string settings(int dlog, int power, int night, int morning, int on_mC, int off_mC,
                            const std::string &version = "v1", const std::string &model = "demo") {
    std::ostringstream text;
    text << "日志开关=" << dlog << "\n功率=" << power << "\n晚上=" << night << "\n早上=" << morning
         << "\n亮屏温度=" << on_mC << "\n息屏温度=" << off_mC << "\n版本=" << version
         << "\n机型=" << model << "\n";
    return text.str();
}

// A Qualcomm phone of the older generation, charging at 35.0 °C with the
// screen off, the board at 36.000 °C and the log off.
inline void lay_out_phone(const fs::path &root) {
    put(root / kStatusNode, "Charging\n");
    put(root / kBatteryTempNode, "350\n");      // tenths of a °C
    put(root / kBoardTempNode, "36000\n");      // m°C
    put(root / kQualcommBacklightNode, "0\n");  // screen off
    put(root / kOldChargeNode, "3000000\n");    // uA
    put(root / kCurrentNowNode, "-1500000\n");  // uA, negative while charging
    put(root / kCapacityNode, "50\n");          // %
    put(root / kSettingsFile, settings(0, 27, 22, 7, 40000, 38000));
}

// Android's packed tzdata of the given version: each entry names a zone and
// the host's zone (Debian's tzdata) whose rules it holds.
struct PackedZone {
    std::string name, host_zone;
};
inline std::string packed_tzdata(const std::string &version, const std::vector<PackedZone> &zones) {
    const auto be32 = [](size_t value) {
        return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    };
    std::string index, data;
    for (const PackedZone &zone : zones) {
        const std::string rules = slurp("/usr/share/zoneinfo/" + zone.host_zone);
        index += zone.name + std::string(40 - zone.name.size(), '\0') + be32(data.size()) +
                 be32(rules.size()) + be32(0);
        data += rules;
    }
    const size_t header = 24;
    return version + std::string(12 - version.size(), '\0') + be32(header) +
           be32(header + index.size()) + be32(header + index.size() + data.size()) + index + data;
}

inline mode_t mode_of(const fs::path &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Runs each test in a fresh temporary directory that is also the working
// directory, where the host build's paths lead, with a fresh state.
class InTree : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/velmora-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root_ = name;
        old_cwd_ = fs::current_path();
        fs::current_path(root_);
        g_state = ControllerState{};
    }
    void TearDown() override {
        fs::current_path(old_cwd_);
        fs::remove_all(root_);
    }
    fs::path root_;
    fs::path old_cwd_;
};
