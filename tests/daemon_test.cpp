// The real velmora binary on a phone tree under a sped-up clock, and faults
// injected into it while it runs.
#include "phone.h"

namespace {

TEST_F(Velmora, FatalEndingsReportAndExitZero) {
    const struct {
        const char *name;
        std::function<void()> damage;  // before the start, or after the first write
        bool running;
        const char *report;
    } cases[] = {
        {"no backlight", [] { fs::remove(kQualcommBacklightNode); }, false,
         "不是适配处理器机型: No such file or directory\n"},
        {"seven settings",
         [] {
             put(kSettingsFile,
                 "日志开关=0\n功率=1\n晚上=1\n早上=1\n亮屏温度=1\n息屏温度=1\n版本=v\n");
         },
         false, "读取配置数据失败: "},
        {"settings file removed", [] { fs::remove(kSettingsFile); }, true,
         "无法打开读取配置文件: No such file or directory\n"},
        {"charge node removed", [] { fs::remove(kOldChargeNode); }, true,
         "无法打开输出文件: No such file or directory\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        lay_out_phone(root_);
        if (!c.running) c.damage();
        const pid_t pid = start("2026-06-01 12:00:00");
        if (c.running) {
            ASSERT_TRUE(wait_for_write("3000000\n"));
            c.damage();
        }
        EXPECT_EQ(exit_status(pid), 0);
        EXPECT_EQ(errors().rfind(c.report, 0), 0u) << errors();
    }
}

TEST_F(Velmora, LogSwitchOtherThanOneWritesNothing) {
    put(kSettingsFile, settings(2, 27, 22, 7, 40000, 38000));
    const pid_t pid = start("2026-06-01 12:00:00");
    EXPECT_TRUE(wait_for_write("3000000\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(250));  // two more cycles
    stop(pid);
    EXPECT_FALSE(fs::exists(kLogFile));
}

// Each node vanishes for a while and comes back: the readers report exactly
// their texts, the fallback shows in the log, and the right value returns.
TEST_F(Velmora, NodesVanishAndComeBack) {
    const struct {
        const char *node, *content;
        const char *during, *after;  // in the log
        const char *report;
    } cases[] = {
        {kStatusNode, "Charging\n", "状态=0,", "状态=Charging,",
         "无法打开输入文件: No such file or directory"},
        {kBoardTempNode, "38000\n", ",平均温度37800,", ",平均温度37820,",
         "读取字符串失败: No such file or directory"},
        {kQualcommBacklightNode, "100\n", "目标温度=38000,", "目标温度=40000,",
         "读取字符串失败: No such file or directory"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.node);
        lay_out_phone(root_);
        log_on();
        put(kBatteryTempNode, "378\n");
        put(kQualcommBacklightNode, "100\n");
        fs::remove(kLogFile);
        const pid_t pid = start("2026-06-01 12:00:00");
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
TEST_F(Velmora, CadenceFollowsTheStatusEveryCycle) {
    log_on();
    put(kStatusNode, "Discharging\n");
    const pid_t pid = start("2026-06-01 12:00:00");
    for (size_t lines = 1; lines <= 8; ++lines) {
        EXPECT_TRUE(wait_for_lines(lines));
        if (lines == 1) {
            EXPECT_EQ(slurp(kOldChargeNode), "3000000\n");  // an idle cycle writes nothing
        }
        put(kStatusNode, lines % 2 == 1 ? "Charging\n" : "Discharging\n");
    }
    stop(pid);
    const std::vector<std::string> lines = log();
    const auto seconds = [](const std::string &line) {  // of the stamp's time of day
        return std::stoi(line.substr(11, 2)) * 3600 + std::stoi(line.substr(14, 2)) * 60 +
               std::stoi(line.substr(17, 2));
    };
    int idle = 0;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        const bool charging = lines[i].find(",状态=Charging,") != std::string::npos;
        idle += !charging;
        const int gap_s = seconds(lines[i + 1]) - seconds(lines[i]);
        EXPECT_GE(gap_s, charging ? 10 : 50);
        EXPECT_LE(gap_s, charging ? 11 : 51);
    }
    EXPECT_GE(idle, 2);
    EXPECT_LE(idle, static_cast<int>(lines.size()) - 3);
    EXPECT_EQ(errors(), "");
    // The first line, idle before any charging, shows the regulator's fields at 0.
    EXPECT_NE(lines[0].find(",状态=Discharging,功率配置=27目标温度=0,电池温度0,"),
              std::string::npos);
}

TEST_F(Velmora, BrokenLogKeepsRegulating) {
    const struct {
        std::function<void()> break_log;
        const char *report;
    } cases[] = {
        {[] { fs::create_directories(kLogFile); }, "无法打开输出文件: Is a directory\n"},
        {[] { fs::create_symlink("/dev/full", kLogFile); }, ""},  // a full disk
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.report);
        fs::remove_all(kLogFile);
        c.break_log();
        log_on();
        const pid_t pid = start("2026-06-01 12:00:00");
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
