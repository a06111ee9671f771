// The tests' phone: a device tree in a temporary directory, written in the
// kernel's units, and the real velmora binary run on it with its clock sped
// up 100 times by libfaketime, so a 10-second pause takes 0.1 s.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "files.h"
#include "launch.h"
#include "module_files.h"
#include "nodes.h"
#include "phone_tree.h"
#include "state.h"

namespace fs = std::filesystem;

// Replaces the file whole, as a kernel node never shows a half-written value
// to a running velmora.
inline void put(const fs::path &path, const std::string &content) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    ASSERT_TRUE(write_atomically(path.c_str(), content, false)) << path;
}

inline std::string slurp(const fs::path &path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

inline std::string settings(int dlog, int power, int night, int morning, int on_mC, int off_mC,
                            const std::string &version = "v1", const std::string &model = "demo") {
    return settings_text(dlog, power, night, morning, on_mC, off_mC, version, model);
}

// A Qualcomm phone of the older generation, charging at 35.0 °C with the
// screen off, the board at 36.000 °C, drawing 1.5 A at 50 %, its limit at
// 3 A, and the log off (a switch other than 1).
inline void lay_out_phone(const fs::path &root) {
    PhoneReadings readings;
    readings.battery_dC = 350, readings.board_mC = 36000;
    readings.current_uA = -1500000, readings.capacity_pct = 50;
    NodeTexts shown;
    ASSERT_TRUE(
        lay_out_tree(root, readings, 3000000, settings(2, 27, 22, 7, 40000, 38000), &shown));
}

inline mode_t mode_of(const fs::path &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// A table's expected report on an error stream: what it starts with, or
// kNoReport for none at all.
constexpr const char *kNoReport = nullptr;
inline void expect_report(const std::string &got, const char *start) {
    if (start == kNoReport) {
        EXPECT_EQ(got, "");
    } else {
        EXPECT_EQ(got.rfind(start, 0), 0u) << got;
    }
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

// The local time of an instant under TZ=tz, "YYYY-MM-DD hh:mm:ss".
inline std::string local_time(const std::string &tz, time_t instant) {
    setenv("TZ", tz.c_str(), 1);
    tzset();
    struct tm broken;
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", localtime_r(&instant, &broken));
    unsetenv("TZ");
    tzset();
    return text;
}

// Polls for up to 20 s: generous for a loaded machine; a pass takes far less.
inline bool wait_until(const std::function<bool()> &done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (bool late = false; !late; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        late = std::chrono::steady_clock::now() > deadline;  // done() is asked once more, then
        if (done()) return true;
    }
    return false;
}

// The real velmora on the phone at root, its faked clock starting at at
// ("YYYY-MM-DD hh:mm:ss", UTC) and running speed times faster than real time.
inline pid_t start_velmora(const fs::path &root, const std::string &at, double speed = 100) {
    return launch_velmora(VELMORA_BINARY, FAKETIME_LIBRARY, root, root / "stderr", at, speed);
}

// A phone tree at root for a chroot, charging with the log switch at dlog:
// the manager's BusyBox shell (helpers/lay-out-phone) and the zip's module
// (helpers/unpack-module, its binaries through qemu).
inline void lay_out_chroot_phone(const fs::path &root, int dlog) {
    const std::string helpers = VELMORA_SOURCE_DIR "/tests/helpers/", r = root.string();
    ASSERT_EQ(system((helpers + "lay-out-phone " + r + " Charging " + std::to_string(dlog) +
                      " busybox && " + helpers + "unpack-module " + r + " " VELMORA_ZIP)
                         .c_str()),
              0);
}

// The same with the module's scripts from the source and the host's velmora
// and velmoractl (and their libraries) in /opt, linked from the module, whose
// module.prop is as installed: the log off.
inline void lay_out_host_chroot_phone(const fs::path &root) {
    const std::string r = root.string(), m = r + "/data/adb/modules/velmora";
    ASSERT_EQ(system((VELMORA_SOURCE_DIR "/tests/helpers/lay-out-phone " + r +
                      " Charging 0 busybox >/dev/null && mkdir " + r +
                      "/opt && cp " VELMORA_BINARY " " VELMORA_CTL " " + r +
                      "/opt && cp " VELMORA_SOURCE_DIR "/module/*.sh " + m +
                      " && ln -s /opt/velmora /opt/velmoractl " + m +
                      " && printf 'id=velmora\\ndescription=installed\\n' >" + m +
                      "/module.prop && for lib in $(ldd " VELMORA_BINARY "; ldd " VELMORA_CTL
                      " 2>&1); do case $lib in /*[!:]) install -D $lib " +
                      r + "$lib;; esac; done")
                         .c_str()),
              0);
}

// The processes in the chroot at root, or those of them that run velmora.
inline std::vector<pid_t> in_phone(const fs::path &root, bool velmora) {
    std::vector<pid_t> found;
    for (const auto &entry : fs::directory_iterator("/proc")) {
        std::error_code gone;
        if (fs::read_symlink(entry.path() / "root", gone) != root) continue;
        if (!velmora || fs::path(slurp(entry.path() / "cmdline").c_str()).filename() == "velmora")
            found.push_back(std::stoi(entry.path().filename()));
    }
    return found;
}

// Runs each test in a fresh phone tree in a temporary directory that is also
// the working directory, where the host build's paths lead, with a fresh state.
class InTree : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/velmora-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root_ = name;
        fs::current_path(root_);
        lay_out_phone(root_);
        g_state = ControllerState{};
    }
    void TearDown() override {
        fs::current_path("/");
        fs::remove_all(root_);
    }
    fs::path root_;
};

// The real velmora on the phone in the tree.
class Velmora : public InTree {
protected:
    // Starts velmora with the faked clock at start ("YYYY-MM-DD hh:mm:ss", UTC).
    pid_t start(const std::string &at) { return start_velmora(root_, at); }
    // Waits for velmora to end by itself: its exit status, or -1 when it did not.
    int exit_status(pid_t pid) {
        int status = -1;
        const bool ended = wait_until([&] { return waitpid(pid, &status, WNOHANG) == pid; });
        if (!ended) end_velmora(pid);
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Ends a velmora that should still be running; one that has ended by
    // itself (a crash, a sanitizer's report) fails the test.
    void stop(pid_t pid) {
        int status = 0;
        EXPECT_NE(waitpid(pid, &status, WNOHANG), pid) << "velmora ended by itself: " << status;
        end_velmora(pid);
    }
    std::string errors() { return slurp("stderr"); }
    std::vector<std::string> log() {
        std::vector<std::string> lines;
        std::istringstream in(slurp(kLogFile));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    bool wait_for_lines(size_t count) {
        return wait_until([&] { return log().size() >= count; });
    }
    // Waits for a whole new limit: the node is truncated just before each write.
    bool wait_for_write(const std::string &before) {
        return wait_until([&] {
            const std::string now = slurp(kOldChargeNode);
            return now != before && !now.empty() && now.back() == '\n';
        });
    }
    void log_on() { put(kSettingsFile, settings(1, 27, 22, 7, 40000, 38000)); }
};
