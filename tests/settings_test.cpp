// The settings file: every form velmora reads or refuses, beside velmoractl
// check's verdict on it; the night window and the target it picks.
#include <string>

#include "commands.h"
#include "main.h"
#include "phone.h"
#include "verdict.h"

namespace {

using Settings = InTree;

const std::string kGood = settings(1, 27, 22, 7, 40000, 38000, "v2.1", "MI11");

std::string replace_all(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Every form read whole (the model is the last value) or refused with its
// report, and velmoractl check's verdict on it: "ok" exactly when velmora reads it.
TEST_F(Settings, FormsTable) {
    const std::string stop = "读取配置数据失败: entry ";
    const struct {
        const char *name;
        std::string text;   // "-": no file
        const char *model;  // nullptr: refused
        std::string verdict;
    } cases[] = {
        {"line feeds", kGood, "MI11", "ok"},
        {"CRLF", replace_all(kGood, "\n", "\r\n"), "MI11", "ok"},
        {"one line, single spaces", replace_all(kGood, "\n", " "), "MI11", "ok"},
        {"indentation and blank lines", replace_all(kGood, "\n", "\n\n\t  "), "MI11", "ok"},
        {"space after =, a plus sign", replace_all(kGood, "=40000", "= +40000"), "MI11", "ok"},
        {"notes after the eighth", kGood + "# 功率: 1833 uA per unit\n", "MI11", "ok"},
        {"long model cut", replace_all(kGood, "MI11", std::string(40, 'x')),
         "xxxxxxxxxxxxxxxxxxxxxxxxxxxxx", "ok"},
        {"8th entry after 5000 blank lines",
         replace_all(kGood, "\n机型", std::string(5000, '\n') + "机型"), "MI11", "ok"},
        {"space before =", replace_all(kGood, "功率=", "功率 ="), nullptr,
         stop + "2 (功率=) at byte 21: not the key"},
        {"byte-order mark", "\xEF\xBB\xBF" + kGood, nullptr,
         stop + "1 (日志开关=) at byte 0: not the key"},
        {"blank first line", "\n" + kGood, nullptr, stop + "1 (日志开关=) at byte 0: not the key"},
        {"seven entries", kGood.substr(0, kGood.find("机型=")), nullptr,
         stop + "8 (机型=) at byte 94: the file ends"},
        {"a word for a number", replace_all(kGood, "=27", "=high"), nullptr,
         stop + "2 (功率=) at byte 22: no number"},
        {"NUL inside a number",
         replace_all(kGood, "=27",
                     std::string("=2\0"
                                 "7",
                                 4)),
         nullptr, stop + "3 (晚上=) at byte 23: not the key"},
        {"number past int32", replace_all(kGood, "=40000", "=2147483648"), nullptr,
         stop + "5 (亮屏温度=) at byte 67: number out of range"},
        {"entries run together", replace_all(kGood, "\n", ""), nullptr,  // the version takes all
         stop + "8 (机型=) at byte 98: the file ends"},
        {"empty", "", nullptr, stop + "1 (日志开关=) at byte 0: the file ends"},
        {"missing", "-", nullptr, "无法打开读取配置文件: No such file or directory"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        g_state = ControllerState{};
        fs::remove(kSettingsFile);
        if (c.text != "-") put(kSettingsFile, c.text);
        testing::internal::CaptureStderr();
        EXPECT_EQ(read_config(), c.model != nullptr);
        const std::string err = testing::internal::GetCapturedStderr();
        const CtlOutput check = ctl_check(kSettingsFile);
        EXPECT_EQ(check.out, c.verdict + "\n");
        EXPECT_EQ(check.status, c.model != nullptr ? 0 : 1);
        if (c.model == nullptr) {
            // The daemon's own report starts as the verdict does.
            EXPECT_EQ(err.substr(0, err.find(": ")), c.verdict.substr(0, c.verdict.find(": ")));
            continue;
        }
        EXPECT_EQ(err, "");
        EXPECT_EQ(g_state.on_temp, 40000);
        EXPECT_STREQ(g_state.phonemodel, c.model);
    }
}

TEST_F(Settings, AllEightValues) {
    // A word is cut to 29 bytes at a character boundary: nine 3-byte characters.
    put(kSettingsFile, settings(-1, 3, 1, 6, 41000, 37500, "版本二", "红米红米红米红米红米"));
    ASSERT_TRUE(read_config());
    const ControllerState &s = g_state;
    EXPECT_EQ(std::vector<int32_t>({s.dlog, s.in_power, s.night, s.morning, s.on_temp, s.off_temp}),
              std::vector<int32_t>({-1, 3, 1, 6, 41000, 37500}));
    EXPECT_STREQ(s.PID_version, "版本二");
    EXPECT_STREQ(s.phonemodel, "红米红米红米红米红");
}

TEST(NightWindow, Table) {
    const struct {
        int32_t night, morning;
        const char *inside;  // 24 characters, one per hour: '1' inside the window
    } cases[] = {
        {22, 7, "111111110000000000000011"},  // spans midnight
        {1, 6, "011111100000000000000000"},
        {5, 5, "000000000000000000000000"},   // equal hours: never
        {25, 7, "111111110000000000000000"},  // used as read
        {0, 23, "111111111111111111111111"},
    };
    for (const auto &c : cases) {
        std::string got;
        for (int32_t hour = 0; hour < 24; ++hour)
            got += in_night_window(hour, c.night, c.morning) ? '1' : '0';
        EXPECT_EQ(got, c.inside) << c.night << ".." << c.morning;
    }
}

TEST_F(Settings, TargetTable) {
    struct {
        const char *name;
        const char *device;
        const char *backlight;  // nullptr: no node
        int32_t hour;
        int32_t aim_temp;
    } const cases[] = {
        {"screen on by day", kQualcommTag, "120\n", 12, 40000},
        {"screen on at night", kQualcommTag, "1\n", 23, 40000},
        {"screen off at night", kQualcommTag, "0\n", 23, 39000},
        {"screen off by day", kQualcommTag, "0\n", 8, 38000},
        {"unreadable backlight by day", kQualcommTag, "dark\n", 12, 38000},
        {"missing backlight at night", kQualcommTag, nullptr, 0, 39000},
        {"MediaTek backlight", kMediatekTag, "255\n", 3, 40000},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all("sys");
        ControllerState &s = g_state = ControllerState{};
        s.device = c.device, s.time_now = c.hour;
        s.night = 22, s.morning = 7, s.on_temp = 40000, s.off_temp = 38000;
        if (c.backlight != nullptr) put(brightness_node(c.device), c.backlight);
        pick_aim_temp();
        EXPECT_EQ(g_state.aim_temp, c.aim_temp);
    }
}

}  // namespace
