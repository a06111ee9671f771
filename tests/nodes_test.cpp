#include <climits>
#include <string>

#include "device_tree.h"

namespace {

using Nodes = InTree;

struct IntCase {
    const char *name;
    const char *content;  // nullptr: no node
    int32_t value;
    const char *report;  // what the error stream starts with, "" for nothing
};

TEST_F(Nodes, ReadIntTable) {
    const std::string big(100000, '7');
    const IntCase cases[] = {
        {"plain", "42\n", 42, ""},
        {"leading spaces", "   42\n", 42, ""},
        {"negative", "-1500\n", -1500, ""},
        {"plus sign", "+7", 7, ""},
        {"no line feed", "355", 355, ""},
        {"CRLF", "390\r\n", 390, ""},
        {"trailing garbage", "12abc", 12, ""},
        {"int32 max", "2147483647\n", INT32_MAX, ""},
        {"int32 min", "-2147483648\n", INT32_MIN, ""},
        {"just past max", "2147483648\n", 0, "读取传感器数据失败: Numerical result out of range\n"},
        {"just past min", "-2147483649\n", 0,
         "读取传感器数据失败: Numerical result out of range\n"},
        {"oversized number", big.c_str(), 0, "读取传感器数据失败: Numerical result out of range\n"},
        {"leading garbage", "x42\n", 0, "读取传感器数据失败: "},
        {"letters", "abc\n", 0, "读取传感器数据失败: "},
        {"lone sign", "-\n", 0, "读取传感器数据失败: "},
        {"empty", "", 0, "读取传感器数据失败: "},
        {"missing", nullptr, 0, "读取字符串失败: No such file or directory"},
    };
    for (const IntCase &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove("node");
        if (c.content != nullptr) put("node", c.content);
        testing::internal::CaptureStderr();
        EXPECT_EQ(read_int("node"), c.value);
        EXPECT_EQ(testing::internal::GetCapturedStderr().rfind(c.report, 0), 0u);
    }
}

struct CharCase {
    const char *name;
    const char *content;  // nullptr: no node
    std::string token;
    const char *report;
};

TEST_F(Nodes, ReadCharTable) {
    const CharCase cases[] = {
        {"charging", "Charging\n", "Charging", ""},
        {"first word only", "Not charging\n", "Not", ""},
        {"leading spaces", "  Full\n", "Full", ""},
        {"CRLF", "Charging\r\n", "Charging", ""},
        {"long word cut to 23 bytes", "ABCDEFGHIJKLMNOPQRSTUVWXYZ\n", "ABCDEFGHIJKLMNOPQRSTUVW",
         ""},
        {"empty", "", "0", "读取数据失败: "},
        {"only whitespace", " \n\t\n", "0", "读取数据失败: "},
        {"missing", nullptr, "0", "无法打开输入文件: No such file or directory"},
    };
    for (const CharCase &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove("node");
        if (c.content != nullptr) put("node", c.content);
        testing::internal::CaptureStderr();
        EXPECT_EQ(read_char("node"), c.token);
        EXPECT_EQ(testing::internal::GetCapturedStderr().rfind(c.report, 0), 0u);
    }
}

TEST_F(Nodes, WordCutKeepsWholeCharacters) {
    char out[8];
    ScanInput in;
    put("node", "型号型号型号\n");  // 3-byte characters; 7 bytes fit two of them
    ASSERT_TRUE(scan_open(in, "node"));
    ASSERT_TRUE(scan_word(in, out, sizeof out));
    scan_close(in);
    EXPECT_STREQ(out, "型号");
}

struct ProbeCase {
    const char *name;
    bool qualcomm, mediatek, old_node, new_node;
    bool ok;
    const char *device, *device_status, *backlight, *charge;
};

TEST_F(Nodes, ProbeAndNodeSelection) {
    const ProbeCase cases[] = {
        {"both backlights", true, true, true, false, true, kQualcommTag, kOldGenerationTag,
         kQualcommBacklightNode, kOldChargeNode},
        {"only the second", false, true, false, true, true, kMediatekTag, kNewGenerationTag,
         kMediatekBacklightNode, kNewChargeNode},
        {"both charge nodes", true, false, true, true, true, kQualcommTag, kOldGenerationTag,
         kQualcommBacklightNode, kOldChargeNode},
        {"no charge node at all", true, false, false, false, true, kQualcommTag, kNewGenerationTag,
         kQualcommBacklightNode, kNewChargeNode},
        {"neither backlight", false, false, true, true, false, "", "", nullptr, nullptr},
    };
    for (const ProbeCase &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all("sys");
        g_state = ControllerState{};
        if (c.qualcomm) put(kQualcommBacklightNode, "1\n");
        if (c.mediatek) put(kMediatekBacklightNode, "1\n");
        if (c.old_node) put(kOldChargeNode, "0\n");
        if (c.new_node) put(kNewChargeNode, "0\n");
        testing::internal::CaptureStderr();
        EXPECT_EQ(probe_platform(), c.ok);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_STREQ(g_state.device, c.device);
        EXPECT_STREQ(g_state.device_status, c.device_status);
        if (!c.ok) {
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
    write_aim_current(aimFile, -1500);
    EXPECT_EQ(slurp(kOldChargeNode), "-1500\n");       // truncated, not overwritten in place
    EXPECT_EQ(read_back_current(kOldChargeNode), -1);  // toward zero
    EXPECT_EQ(mode_of(kOldChargeNode), 0444u);
    put(kOldChargeNode, "999\n");
    EXPECT_EQ(read_back_current(kOldChargeNode), 0);
}

TEST_F(Nodes, MissingChargeNodeIsNotCreated) {
    EXPECT_LT(open_charge_node(kNewChargeNode), 0);
    EXPECT_FALSE(fs::exists(kNewChargeNode));
}

TEST(PutInt, Table) {
    const int32_t values[] = {0, 7, -7, 45825, INT32_MAX, INT32_MIN};
    for (int32_t v : values) {
        char out[12];
        EXPECT_EQ(std::string(out, put_int(out, v)), std::to_string(v));
    }
}

}  // namespace
