// The node readers on hostile contents, the platform probe and the charge
// node's write-and-lock.
#include <climits>
#include <string>

#include "phone.h"

namespace {

using Nodes = InTree;

// Each node's content read both ways: read_int's value and report, then
// read_char's token and report (what the error stream starts with, or none).
TEST_F(Nodes, ReadersTable) {
    const std::string big(100000, '7');
    const char *range = "读取传感器数据失败: Numerical result out of range\n";
    const struct {
        const char *name, *content;  // nullptr: no node
        int32_t value;
        const char *int_report;
        std::string token;
        const char *char_report;
    } cases[] = {
        {"plain", "42\n", 42, kNoReport, "42", kNoReport},
        {"negative, CRLF", "-1500\r\n", -1500, kNoReport, "-1500", kNoReport},
        {"trailing garbage", "12abc", 12, kNoReport, "12abc", kNoReport},
        {"int32 max", "2147483647\n", INT32_MAX, kNoReport, "2147483647", kNoReport},
        {"just past max", "2147483648\n", 0, range, "2147483648", kNoReport},
        {"oversized, a word cut to 23 bytes", big.c_str(), 0, range, big.substr(0, 23), kNoReport},
        {"first word only", " Not charging\n", 0, "读取传感器数据失败: ", "Not", kNoReport},
        {"empty", "", 0, "读取传感器数据失败: ", "0", "读取数据失败: "},
        {"missing", nullptr, 0, "读取字符串失败: No such file or directory", "0",
         "无法打开输入文件: No such file or directory"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove("node");
        if (c.content != nullptr) put("node", c.content);
        testing::internal::CaptureStderr();
        EXPECT_EQ(read_int("node"), c.value);
        expect_report(testing::internal::GetCapturedStderr(), c.int_report);
        testing::internal::CaptureStderr();
        EXPECT_EQ(read_char("node"), c.token);
        expect_report(testing::internal::GetCapturedStderr(), c.char_report);
    }
}

TEST_F(Nodes, ProbeAndNodeSelection) {
    const char *Q = kQualcommBacklightNode, *M = kMediatekBacklightNode, *O = kOldChargeNode,
               *N = kNewChargeNode;
    const struct {
        const char *name;
        std::vector<const char *> present;
        const char *device, *device_status, *backlight, *charge;  // "": the probe fails
    } cases[] = {
        {"both backlights", {Q, M, O}, kQualcommTag, kOldGenerationTag, Q, O},
        {"only the second", {M, N}, kMediatekTag, kNewGenerationTag, M, N},
        {"both charge nodes", {Q, O, N}, kQualcommTag, kOldGenerationTag, Q, O},
        {"no charge node at all", {Q}, kQualcommTag, kNewGenerationTag, Q, N},
        {"neither backlight", {O, N}, "", "", "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all("sys");
        g_state = ControllerState{};
        for (const char *node : c.present) put(node, "1\n");
        testing::internal::CaptureStderr();
        EXPECT_EQ(probe_platform(), *c.device != '\0');
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_STREQ(g_state.device, c.device);
        EXPECT_STREQ(g_state.device_status, c.device_status);
        if (*c.device == '\0') {
            EXPECT_EQ(err.rfind("不是适配处理器机型: ", 0), 0u);
            continue;
        }
        EXPECT_EQ(err, "");
        EXPECT_STREQ(brightness_node(g_state.device), c.backlight);
        EXPECT_STREQ(charge_node(g_state.device_status), c.charge);
    }
}

TEST_F(Nodes, ChargeNodeWriteAndLock) {
    put(kOldChargeNode, "123456789\n");
    chmod(kOldChargeNode, 0644);
    const int aimFile = open_charge_node(kOldChargeNode);
    ASSERT_GE(aimFile, 0);
    EXPECT_EQ(mode_of(kOldChargeNode), 0744u);
    write_aim_current(aimFile, INT32_MIN);
    EXPECT_EQ(slurp(kOldChargeNode), "-2147483648\n");       // truncated, not overwritten in place
    EXPECT_EQ(read_back_current(kOldChargeNode), -2147483);  // toward zero
    EXPECT_EQ(mode_of(kOldChargeNode), 0444u);
    put(kOldChargeNode, "999\n");
    EXPECT_EQ(read_back_current(kOldChargeNode), 0);
}

}  // namespace
