// The real velmora binary against a device tree, its clock sped up 100 times
// by libfaketime: a 10-second pause takes 0.1 s.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "device_tree.h"

namespace {

constexpr double kPollTimeout_s = 20;  // generous for a loaded machine; a pass takes far less

// Starts velmora in root with the faked clock starting at start ("YYYY-MM-DD hh:mm:ss", UTC).
pid_t start_velmora(const fs::path &root, const std::string &start) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int err = open((root / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (chdir(root.c_str()) != 0 || err < 0 || dup2(err, 2) < 0) _exit(127);
    const std::string faketime = "FAKETIME=@" + start + " x100";
    char *const argv[] = {const_cast<char *>(VELMORA_BINARY), nullptr};
    char *const envp[] = {const_cast<char *>("LD_PRELOAD=" FAKETIME_LIBRARY),
                          const_cast<char *>(faketime.c_str()), const_cast<char *>("TZ=UTC"),
                          nullptr};
    execve(VELMORA_BINARY, argv, envp);
    _exit(127);
}

bool wait_until(const std::function<bool()> &done) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(kPollTimeout_s);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Waits for the process to end by itself; -1 when it did not.
int exit_status(pid_t pid) {
    int status = -1;
    const bool ended = wait_until([&] { return waitpid(pid, &status, WNOHANG) == pid; });
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void stop(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

class Velmora : public InTree {
protected:
    void SetUp() override {
        InTree::SetUp();
        lay_out_phone(root_);
    }
    std::string charge_node_text() { return slurp(kOldChargeNode); }
    std::string errors() { return slurp("stderr"); }
};

TEST_F(Velmora, FatalEndingsReportAndExitZero) {
    const struct {
        const char *name;
        std::function<void()> damage;
        const char *report;
    } cases[] = {
        {"no backlight", [] { fs::remove(kQualcommBacklightNode); },
         "不是适配处理器机型: No such file or directory\n"},
        {"no settings file", [] { fs::remove(kSettingsFile); },
         "无法打开读取配置文件: No such file or directory\n"},
        {"seven settings",
         [] {
             put(kSettingsFile,
                 "日志开关=0\n功率=1\n晚上=1\n早上=1\n亮屏温度=1\n息屏温度=1\n版本=v\n");
         },
         "读取配置数据失败: "},
        {"settings number past int32",
         [] {
             put(kSettingsFile,
                 "日志开关=0\n功率=9999999999\n晚上=1\n早上=1\n亮屏温度=1\n息屏温度=1\n版本="
                 "v\n机型=m\n");
         },
         "读取配置数据失败: Numerical result out of range\n"},
        {"no charge node", [] { fs::remove(kOldChargeNode); },
         "无法打开输出文件: No such file or directory\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        lay_out_phone(root_);
        c.damage();
        const pid_t pid = start_velmora(root_, "2026-06-01 12:00:00");
        EXPECT_EQ(exit_status(pid), 0);
        EXPECT_EQ(errors().rfind(c.report, 0), 0u) << errors();
    }
}

TEST_F(Velmora, SettingsRemovedWhileRunningEndsAtTheNextCycle) {
    const pid_t pid = start_velmora(root_, "2026-06-01 12:00:00");
    ASSERT_TRUE(wait_until([&] { return charge_node_text() != "3000000\n"; }));
    fs::remove(kSettingsFile);
    EXPECT_EQ(exit_status(pid), 0);
    EXPECT_EQ(errors(), "无法打开读取配置文件: No such file or directory\n");
}

// Battery at 39.0 °C with no board sensor: at a 39 °C target the error stays
// 0 and the drive 25, so every cycle writes 1833 x 27 x 25 uA.
TEST_F(Velmora, WritesTheLimitAndLocksTheNode) {
    fs::remove(kBoardTempNode);
    put(kBatteryTempNode, "390\n");
    const pid_t pid = start_velmora(root_, "2026-06-01 23:00:00");  // night window, screen off
    const bool written = wait_until([&] { return charge_node_text() == "1237275\n"; });
    stop(pid);
    EXPECT_TRUE(written) << charge_node_text();
    EXPECT_EQ(mode_of(kOldChargeNode), 0444u);
    // The missing board sensor is reported each cycle and read as 0.
    EXPECT_EQ(errors().rfind("读取字符串失败: No such file or directory\n", 0), 0u);
}

TEST_F(Velmora, TargetFollowsTheHourAndTheScreen) {
    fs::remove(kBoardTempNode);
    put(kBatteryTempNode, "390\n");
    const struct {
        const char *name;
        const char *start;
        const char *backlight;
        const char *first_limit;  // 1833 x 27 x first drive, uA
    } cases[] = {
        {"night, screen off: 39 °C, drive 25", "2026-06-01 23:00:00", "0\n", "1237275\n"},
        {"morning hour is inside", "2026-06-01 07:59:00", "0\n", "1237275\n"},
        {"day, screen off: 38 °C, drive 1", "2026-06-01 12:00:00", "0\n", "49491\n"},
        {"night, screen on: 40 °C, drive 65", "2026-06-01 23:00:00", "80\n", "3216915\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        put(kOldChargeNode, "3000000\n");
        put(kQualcommBacklightNode, c.backlight);
        const pid_t pid = start_velmora(root_, c.start);
        EXPECT_TRUE(wait_until([&] { return charge_node_text() != "3000000\n"; }));
        stop(pid);
        EXPECT_EQ(charge_node_text(), c.first_limit);
    }
}

TEST_F(Velmora, IdleStatusesNeverWrite) {
    const char *statuses[] = {"Not charging\n", "Discharging\n", "Full\n", "charging\n", nullptr};
    for (const char *status : statuses) {
        SCOPED_TRACE(status == nullptr ? "unreadable" : status);
        fs::remove(kStatusNode);
        if (status != nullptr) put(kStatusNode, status);
        const pid_t pid = start_velmora(root_, "2026-06-01 12:00:00");
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // two idle cycles
        stop(pid);
        EXPECT_EQ(charge_node_text(), "3000000\n");
        EXPECT_EQ(mode_of(kOldChargeNode), 0644u);
    }
}

TEST_F(Velmora, SettingsEditTakesEffectNextCycle) {
    fs::remove(kBoardTempNode);
    put(kBatteryTempNode, "390\n");
    const pid_t pid = start_velmora(root_, "2026-06-01 23:00:00");
    EXPECT_TRUE(wait_until([&] { return charge_node_text() == "1237275\n"; }));
    put(kSettingsFile, settings(0, 10, 22, 7, 40000, 38000));
    EXPECT_TRUE(wait_until([&] { return charge_node_text() == "458250\n"; }));  // 1833 x 10 x 25
    stop(pid);
}

}  // namespace
