// The real velmora binary against a device tree under a sped-up clock.
#include "daemon.h"

namespace {

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

// Battery at 39.0 °C with no board sensor: at a 39 °C target the error stays
// 0 and the drive 25, so every cycle writes 1833 x 27 x 25 uA.
TEST_F(Velmora, WritesTheLimitAndLocksTheNode) {
    fs::remove(kBoardTempNode);
    put(kBatteryTempNode, "390\n");
    const pid_t pid = start_velmora(root_, "2026-06-01 23:00:00");  // night window, screen off
    // The lock follows the write within the cycle: wait for both.
    const bool written_and_locked = wait_until(
        [&] { return charge_node_text() == "1237275\n" && mode_of(kOldChargeNode) == 0444u; });
    stop(pid);
    EXPECT_TRUE(written_and_locked) << charge_node_text() << " mode " << mode_of(kOldChargeNode);
    // The missing board sensor is reported each cycle and read as 0.
    EXPECT_EQ(errors().rfind("读取字符串失败: No such file or directory\n", 0), 0u);
}

TEST_F(Velmora, IdleStatusesNeverWrite) {
    log_on();
    const char *statuses[] = {"Not charging\n", "Discharging\n", "Full\n", "charging\n", nullptr};
    const char *shown[] = {"Not", "Discharging", "Full", "charging", "0"};
    for (size_t i = 0; i < std::size(statuses); ++i) {
        SCOPED_TRACE(shown[i]);
        fs::remove(kLogFile);
        fs::remove(kStatusNode);
        if (statuses[i] != nullptr) put(kStatusNode, statuses[i]);
        const pid_t pid = start_velmora(root_, "2026-06-01 12:00:00");
        EXPECT_TRUE(wait_for_lines(1));
        stop(pid);
        EXPECT_EQ(charge_node_text(), "3000000\n");
        EXPECT_EQ(mode_of(kOldChargeNode), 0644u);
        // Before any charging cycle the regulator's fields are all 0.
        const std::string line = log().at(0);
        EXPECT_EQ(field(line, "状态="), shown[i]);
        EXPECT_EQ(field(line, "计算值="), "0");
        EXPECT_EQ(field(line, "目标电流="), "0mA");
        EXPECT_NE(line.find("目标温度=0,电池温度0,主板温度0,平均温度0,"), std::string::npos);
    }
}

// Battery 37.8 °C, board 38.000 °C: weighted 37.820 °C, 11 tenths under the
// 39 °C night target, so the integral climbs 11, 22, then holds at 25.
TEST_F(Velmora, LogShowsTheRegulatorCycleByCycle) {
    log_on();
    put(kBatteryTempNode, "378\n");
    put(kBoardTempNode, "38000\n");
    const pid_t pid = start_velmora(root_, "2026-06-01 23:00:00");
    EXPECT_TRUE(wait_for_lines(4));
    stop(pid);
    const std::vector<std::string> lines = log();
    const char *drive[] = {"69", "69", "72", "72"};
    const char *integral[] = {"11", "22", "25", "25"};
    const char *differential[] = {"11", "0", "0", "0"};
    const char *limit_mA[] = {"3414mA", "3414mA", "3563mA", "3563mA"};  // 1833 uA x 27 x drive
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(lines[i]);
        EXPECT_EQ(field(lines[i], "平均温度"), "37820");
        EXPECT_EQ(field(lines[i], "计算值="), drive[i]);
        EXPECT_EQ(field(lines[i], "积分值="), integral[i]);
        EXPECT_EQ(field(lines[i], "微分值="), differential[i]);
        EXPECT_EQ(field(lines[i], "目标电流="), limit_mA[i]);
        EXPECT_EQ(field(lines[i], "当前电流="), "1500mA");
    }
}

TEST_F(Velmora, NightWindowOpensAtTheNightHour) {
    log_on();
    const pid_t pid = start_velmora(root_, "2026-06-01 21:59:30");  // screen off
    EXPECT_TRUE(wait_for_lines(6));
    stop(pid);
    for (const std::string &line : log()) {
        SCOPED_TRACE(line);
        const bool night = line.substr(11, 2) == "22";
        EXPECT_NE(line.find(night ? "目标温度=39000," : "目标温度=38000,"), std::string::npos);
    }
    EXPECT_EQ(log().front().substr(11, 2), "21");
    EXPECT_EQ(log().back().substr(11, 2), "22");
}

TEST_F(Velmora, LogSwitchOtherThanOneWritesNothing) {
    for (int dlog : {0, 2}) {
        SCOPED_TRACE(dlog);
        put(kSettingsFile, settings(dlog, 27, 22, 7, 40000, 38000));
        put(kOldChargeNode, "3000000\n");
        const pid_t pid = start_velmora(root_, "2026-06-01 12:00:00");
        EXPECT_TRUE(wait_for_write("3000000\n"));
        std::this_thread::sleep_for(std::chrono::milliseconds(250));  // two more cycles
        stop(pid);
        EXPECT_FALSE(fs::exists(kLogFile));
    }
}

}  // namespace
