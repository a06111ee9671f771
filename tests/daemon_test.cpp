// The real velmora binary on a phone tree under a sped-up clock, and faults
// injected into it while it runs.
#include "phone.h"

namespace {

// Each file velmora cannot do without, removed before it starts or after its
// first write: it reports, ends with status 0 and never creates the file.
TEST_F(Velmora, FatalEndingsReportAndExitZero) {
    const struct {
        const char *removed;
        bool running;
        const char *report;
    } cases[] = {
        {kQualcommBacklightNode, false, "不是适配处理器机型: No such file or directory\n"},
        {kSettingsFile, true, "无法打开读取配置文件: No such file or directory\n"},
        {kOldChargeNode, true, "无法打开输出文件: No such file or directory\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.removed);
        lay_out_phone(root_);
        if (!c.running) fs::remove(c.removed);
        const pid_t pid = start("2026-06-01 12:00:00");
        if (c.running) {
            ASSERT_TRUE(wait_for_write("3000000\n"));
            fs::remove(c.removed);
        }
        EXPECT_EQ(exit_status(pid), 0);
        EXPECT_EQ(errors(), c.report);
        EXPECT_FALSE(fs::exists(c.removed));
        EXPECT_FALSE(fs::exists(kLogFile));  // no cycle logged with the switch at 2
    }
}

// The example line in both READMEs and in docs/development.md is the first one
// velmora writes at 22:00:10 with the screen off, the battery at 37.8 °C and
// the board at 38.000 °C.
TEST_F(Velmora, TheDocumentsShowALineVelmoraWrote) {
    put(kSettingsFile, settings(1, 27, 22, 7, 40000, 38000, "v2.1", "MI11"));
    put(kBatteryTempNode, "378\n");
    put(kBoardTempNode, "38000\n");
    const pid_t pid =
        start_velmora(root_, "2026-06-01 22:00:10", 10);  // a stamp that keeps its second
    ASSERT_TRUE(wait_for_lines(1));
    stop(pid);
    for (const char *document : {"/README.md", "/README.zh-CN.md", "/docs/development.md"}) {
        EXPECT_NE(slurp(VELMORA_SOURCE_DIR + std::string(document)).find("\n" + log()[0] + "\n"),
                  std::string::npos)
            << document << " does not show " << log()[0];
    }
}

// Each node vanishes for a while (or, for the settings, is rewritten) and
// comes back: the fallback shows in the log, and the right value returns.
TEST_F(Velmora, NodesVanishAndComeBack) {
    const std::string on = settings(1, 27, 22, 7, 40000, 38000);
    const struct {
        const char *node;
        std::string content;
        const char *during, *after;  // in the log
        std::string meanwhile;       // "": removed
    } cases[] = {
        {kStatusNode, "Charging\n", "状态=0,", "状态=Charging,", ""},
        {kBatteryTempNode, "350\n", ",电池温度0,", ",电池温度350,", ""},
        {kBoardTempNode, "38000\n", ",平均温度35000,", ",平均温度35300,", ""},
        {kQualcommBacklightNode, "100\n", "目标温度=38000,", "目标温度=40000,", ""},
        {kSettingsFile, on, "亮屏温度=41000,", "亮屏温度=40000,",
         settings(1, 27, 22, 7, 41000, 38000)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.node);
        lay_out_phone(root_);
        log_on();
        put(kQualcommBacklightNode, "100\n");
        fs::remove(kLogFile);
        const pid_t pid = start("2026-06-01 12:00:00");
        EXPECT_TRUE(wait_for_lines(1));
        if (c.meanwhile.empty()) {
            fs::remove(c.node);
        } else {
            put(c.node, c.meanwhile);
        }
        EXPECT_TRUE(wait_until([&] { return log().back().find(c.during) != std::string::npos; }));
        put(c.node, c.content);
        EXPECT_TRUE(wait_until([&] { return log().back().find(c.after) != std::string::npos; }));
        stop(pid);
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
    EXPECT_EQ(errors(), "");
    // The first line, idle before any charging, shows the regulator's fields at 0.
    EXPECT_NE(lines[0].find(",状态=Discharging,功率配置=27目标温度=0,电池温度0,"),
              std::string::npos);
}

// The log on a full disk loses every line silently; a directory in its place
// is reported every cycle. Either way regulation goes on.
TEST_F(Velmora, BrokenLogKeepsRegulating) {
    for (const bool directory : {false, true}) {
        SCOPED_TRACE(directory ? "directory" : "/dev/full");
        lay_out_phone(root_);
        fs::remove_all(kLogFile);
        if (directory) {
            fs::create_directory(kLogFile);
        } else {
            fs::create_symlink("/dev/full", kLogFile);
        }
        log_on();
        const pid_t pid = start("2026-06-01 12:00:00");
        // Each new write means the cycle before it, log line included, has passed.
        for (int cycle = 0; cycle < 3; ++cycle) {
            put(kOldChargeNode, "1\n");
            EXPECT_TRUE(wait_for_write("1\n"));
        }
        stop(pid);
        std::istringstream reports(errors());
        int count = 0;
        for (std::string line; std::getline(reports, line); ++count) {
            EXPECT_EQ(line, "无法打开输出文件: Is a directory");
        }
        EXPECT_EQ(count >= 2, directory);
    }
}

}  // namespace
