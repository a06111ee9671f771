// The diagnostic line: its bytes, its current and capacity fields, and a log
// that cannot be opened.
#include "debug_log.h"

#include <string>

#include "phone.h"

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

// Read for the line itself: INT32_MIN uA shows as 2147483 mA; unreadable, 0.
TEST_F(DebugLog, CurrentAndCapacity) {
    put(kCurrentNowNode, "-2147483648\n");
    put(kCapacityNode, "garbage\n");
    debug();
    EXPECT_NE(slurp(kLogFile).find(",当前电流=2147483mA,电量=0,"), std::string::npos);
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
