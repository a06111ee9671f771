// Running the real velmora binary against a device tree, its clock sped up
// 100 times by libfaketime: a 10-second pause takes 0.1 s.
#pragma once

#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "device_tree.h"
#include "launch.h"

inline constexpr double kPollTimeout_s =
    20;  // generous for a loaded machine; a pass takes far less

// Starts velmora in root with the faked clock starting at start ("YYYY-MM-DD hh:mm:ss", UTC).
inline pid_t start_velmora(const fs::path &root, const std::string &start) {
    return launch_velmora(VELMORA_BINARY, FAKETIME_LIBRARY, root, root / "stderr", start, 100);
}

inline bool wait_until(const std::function<bool()> &done) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(kPollTimeout_s);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Waits for the process to end by itself; -1 when it did not.
inline int exit_status(pid_t pid) {
    int status = -1;
    const bool ended = wait_until([&] { return waitpid(pid, &status, WNOHANG) == pid; });
    if (!ended) {
        end_velmora(pid);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Ends a velmora that should still be running; one that has ended by itself
// (a crash, a sanitizer's report) fails the test.
inline void stop(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
        ADD_FAILURE() << "velmora ended by itself, status " << status;
        return;
    }
    end_velmora(pid);
}

inline std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// The value after label in a log line, up to the next comma.
inline std::string field(const std::string &line, const std::string &label) {
    const size_t at = line.find(label);
    if (at == std::string::npos) return "<no " + label + ">";
    const size_t start = at + label.size();
    return line.substr(start, line.find(',', start) - start);
}

// Seconds since midnight of a line's time stamp ("YYYY-MM-DD hh:mm:ss,...").
inline int seconds_of(const std::string &line) {
    return std::stoi(line.substr(11, 2)) * 3600 + std::stoi(line.substr(14, 2)) * 60 +
           std::stoi(line.substr(17, 2));
}

class Velmora : public InTree {
protected:
    void SetUp() override {
        InTree::SetUp();
        lay_out_phone(root_);
    }
    std::string charge_node_text() { return slurp(kOldChargeNode); }
    // Waits for a whole new limit: the node is truncated just before each write.
    bool wait_for_write(const std::string &before) {
        return wait_until([&] {
            const std::string now = charge_node_text();
            return now != before && !now.empty() && now.back() == '\n';
        });
    }
    std::string errors() { return slurp("stderr"); }
    std::vector<std::string> log() { return lines_of(slurp(kLogFile)); }
    bool wait_for_lines(size_t count) {
        return wait_until([&] { return log().size() >= count; });
    }
    void log_on() { put(kSettingsFile, settings(1, 27, 22, 7, 40000, 38000)); }
};
