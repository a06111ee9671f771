// Faults injected into a running velmora: nodes that vanish and come back,
// a flapping status, settings rewritten every cycle, a broken log, and the
// files it cannot do without removed under it.
#include "daemon.h"

namespace {

using Faults = Velmora;

// Each node vanishes for a while and comes back: the readers report exactly
// their texts, the fallback shows in the log, and the right value returns.
TEST_F(Faults, NodesVanishAndComeBack) {
    const struct {
        const char *name;
        const char *node;
        const char *content;
        const char *during, *after;  // in the log
        const char *report;
    } cases[] = {
        {"status", kStatusNode, "Charging\n", "状态=0,", "状态=Charging,",
         "无法打开输入文件: No such file or directory"},
        {"battery temperature", kBatteryTempNode, "378\n", ",电池温度0,", ",电池温度378,",
         "读取字符串失败: No such file or directory"},
        {"board sensor", kBoardTempNode, "38000\n", ",平均温度37800,", ",平均温度37820,",
         "读取字符串失败: No such file or directory"},
        {"backlight", kQualcommBacklightNode, "100\n", "目标温度=38000,", "目标温度=40000,",
         "读取字符串失败: No such file or directory"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        lay_out_phone(root_);
        log_on();
        put(kBatteryTempNode, "378\n");
        put(kQualcommBacklightNode, "100\n");
        fs::remove(kLogFile);
        const pid_t pid = start_velmora(root_, "2026-06-01 12:00:00");
        EXPECT_TRUE(wait_for_lines(1));
        fs::remove(c.node);
        EXPECT_TRUE(wait_until([&] { return log().back().find(c.during) != std::string::npos; }));
        put(c.node, c.content);
        EXPECT_TRUE(wait_until([&] { return log().back().find(c.after) != std::string::npos; }));
        stop(pid);
        const std::vector<std::string> reports = lines_of(errors());
        EXPECT_FALSE(reports.empty());
        for (const std::string &report : reports) EXPECT_EQ(report, c.report);
    }
}

// The status flips after every line; each cycle follows the status it read,
// whichever that was: 10 s after a charging cycle, 50 s after an idle one.
TEST_F(Faults, StatusFlipsEveryCycle) {
    log_on();
    const pid_t pid = start_velmora(root_, "2026-06-01 12:00:00");
    for (size_t lines = 1; lines <= 8; ++lines) {
        EXPECT_TRUE(wait_for_lines(lines));
        put(kStatusNode, lines % 2 == 1 ? "Discharging\n" : "Charging\n");
    }
    stop(pid);
    const std::vector<std::string> lines = log();
    int idle = 0;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        const std::string status = field(lines[i], "状态=");
        ASSERT_TRUE(status == "Charging" || status == "Discharging");
        idle += status == "Discharging";
        const int gap_s = seconds_of(lines[i + 1]) - seconds_of(lines[i]);
        EXPECT_GE(gap_s, status == "Charging" ? 10 : 50);
        EXPECT_LE(gap_s, status == "Charging" ? 11 : 51);
    }
    EXPECT_GE(idle, 2);
    EXPECT_LE(idle, static_cast<int>(lines.size()) - 3);
    EXPECT_EQ(errors(), "");
}

// The settings are rewritten (atomically) after every line with a new power
// and version. With the battery at 39.0 °C at night the drive stays 25, so
// each line's limit must be 1833 uA x the power it shows x 25: the cycle used
// the settings it read, whole, whichever rewrite that was.
TEST_F(Faults, SettingsRewrittenEveryCycle) {
    put(kBatteryTempNode, "390\n");
    fs::remove(kBoardTempNode);
    put(kSettingsFile, settings(1, 10, 22, 7, 40000, 38000, "v10"));
    const pid_t pid = start_velmora(root_, "2026-06-01 23:00:00");
    for (int power = 11; power <= 16; ++power) {
        EXPECT_TRUE(wait_for_lines(static_cast<size_t>(power - 10)));
        put(kSettingsFile, settings(1, power, 22, 7, 40000, 38000, "v" + std::to_string(power)));
    }
    stop(pid);
    int last_power = 0;
    for (const std::string &line : log()) {
        SCOPED_TRACE(line);
        const int power = std::stoi(field(line, "功率配置="));
        EXPECT_GE(power, last_power);
        last_power = power;
        EXPECT_EQ(field(line, "目标电流="), std::to_string(1833 * power * 25 / 1000) + "mA");
        EXPECT_EQ(line.substr(line.rfind(',') + 1), "v" + std::to_string(power));
    }
    EXPECT_GE(last_power, 14);
}

TEST_F(Faults, RemovedWhileRunningEndsTheProcess) {
    const struct {
        const char *name;
        const char *file;
        const char *report;
    } cases[] = {
        {"settings file", kSettingsFile, "无法打开读取配置文件: No such file or directory\n"},
        {"charge node", kOldChargeNode, "无法打开输出文件: No such file or directory\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        lay_out_phone(root_);
        const pid_t pid = start_velmora(root_, "2026-06-01 12:00:00");
        ASSERT_TRUE(wait_for_write("3000000\n"));
        fs::remove(c.file);
        EXPECT_EQ(exit_status(pid), 0);
        EXPECT_EQ(errors(), c.report);
    }
}

TEST_F(Faults, BrokenLogKeepsRegulating) {
    const struct {
        const char *name;
        std::function<void()> break_log;
        const char *report;
    } cases[] = {
        {"directory in its place", [] { fs::create_directories(kLogFile); },
         "无法打开输出文件: Is a directory\n"},
        {"full disk", [] { fs::create_symlink("/dev/full", kLogFile); }, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(kLogFile);
        c.break_log();
        log_on();
        put(kOldChargeNode, "3000000\n");
        const pid_t pid = start_velmora(root_, "2026-06-01 12:00:00");
        // Each new write means the cycle before it, log line included, has passed.
        for (int cycle = 0; cycle < 3; ++cycle) {
            put(kOldChargeNode, "1\n");
            EXPECT_TRUE(wait_for_write("1\n"));
        }
        stop(pid);
        const std::vector<std::string> reports = lines_of(errors());
        EXPECT_GE(reports.size(), *c.report != '\0' ? 2u : 0u);
        for (const std::string &line : reports) EXPECT_EQ(line + "\n", c.report);
    }
}

}  // namespace
