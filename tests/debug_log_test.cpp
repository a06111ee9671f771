#include "debug_log.h"

#include <algorithm>
#include <string>

#include "device_tree.h"

namespace {

class DebugLog : public InTree {
protected:
    void SetUp() override {
        InTree::SetUp();
        fs::create_directories(fs::path(kLogFile).parent_path());
        ControllerState &s = g_state;
        s = ControllerState{};
        s.dlog = 1, s.in_power = 27, s.night = 22, s.morning = 7;
        s.on_temp = 40000, s.off_temp = 38000;
        snprintf(s.PID_version, sizeof s.PID_version, "v2.1");
        snprintf(s.phonemodel, sizeof s.phonemodel, "MI11");
        s.status = "Charging";
        snprintf(s.timeStr, sizeof s.timeStr, "2026-06-01 22:00:10");
        s.aim_temp = 39000, s.temp_batery = 378, s.temp_board = 38000, s.temp = 37820;
        s.aim = 29, s.aim_current = 1435, s.integral = 1, s.differential = -2;
        s.device = kQualcommTag, s.device_status = kOldGenerationTag;
        put(kCurrentNowNode, "-1500000\n");
        put(kCapacityNode, "50\n");
    }
};

TEST_F(DebugLog, GoldenLine) {
    debug();
    EXPECT_EQ(slurp(kLogFile),
              "2026-06-01 22:00:10,晚上=22到早上=7,亮屏温度=40000,息屏温度=38000,状态=Charging,"
              "功率配置=27目标温度=39000,电池温度378,主板温度38000,平均温度37820,计算值=29,"
              "目标电流=1435mA,当前电流=1500mA,电量=50,积分值=1,微分值=-2,高通,老机型,MI11,v2.1\n");
}

TEST_F(DebugLog, AppendsAfterExistingContent) {
    put(kLogFile, "earlier line\n");
    debug();
    debug();
    const std::string log = slurp(kLogFile);
    EXPECT_EQ(log.rfind("earlier line\n2026-06-01 22:00:10,", 0), 0u);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3);
}

TEST_F(DebugLog, CurrentAndCapacityTable) {
    const struct {
        const char *current_now;  // uA; nullptr: no node
        const char *capacity;
        const char *fields;
    } cases[] = {
        {"-1500\n", "50\n", "当前电流=1mA,电量=50,"},
        {"-999\n", "50\n", "当前电流=0mA,电量=50,"},
        {"2500\n", "50\n", "当前电流=-2mA,电量=50,"},  // discharging shows negative
        {"-2147483648\n", "100\n", "当前电流=2147483mA,电量=100,"},
        {nullptr, "garbage\n", "当前电流=0mA,电量=0,"},
    };
    for (const auto &c : cases) {
        fs::remove(kLogFile);
        fs::remove(kCurrentNowNode);
        if (c.current_now != nullptr) put(kCurrentNowNode, c.current_now);
        put(kCapacityNode, c.capacity);
        testing::internal::CaptureStderr();
        debug();
        testing::internal::GetCapturedStderr();
        EXPECT_NE(slurp(kLogFile).find(c.fields), std::string::npos) << slurp(kLogFile);
    }
}

TEST_F(DebugLog, UnopenableLogIsReportedAndSkipped) {
    fs::create_directories(kLogFile);  // a directory where the log belongs
    fs::remove(kCapacityNode);
    testing::internal::CaptureStderr();
    debug();
    // Reported, and the nodes are still read (the missing capacity is reported after).
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "无法打开输出文件: Is a directory\n读取字符串失败: No such file or directory\n");
}

}  // namespace
