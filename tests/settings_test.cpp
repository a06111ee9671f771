#include <string>

#include "main.h"
#include "phone.h"

namespace {

using Settings = InTree;

const std::string kGood = settings(1, 27, 22, 7, 40000, 38000, "v2.1", "MI11");

std::string replace_all(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Every form read whole (the model is the last value) or refused with its report.
TEST_F(Settings, FormsTable) {
    const struct {
        const char *name;
        std::string text;
        const char *model;  // nullptr: refused
    } cases[] = {
        {"line feeds", kGood, "MI11"},
        {"CRLF", replace_all(kGood, "\n", "\r\n"), "MI11"},
        {"one line, single spaces", replace_all(kGood, "\n", " "), "MI11"},
        {"indentation and blank lines", replace_all(kGood, "\n", "\n\n\t  "), "MI11"},
        {"space after =, a plus sign", replace_all(kGood, "=40000", "= +40000"), "MI11"},
        {"notes after the eighth", kGood + "# 功率: 1833 uA per unit\n", "MI11"},
        {"long model cut", replace_all(kGood, "MI11", std::string(40, 'x')),
         "xxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
        {"space before =", replace_all(kGood, "功率=", "功率 ="), nullptr},
        {"byte-order mark", "\xEF\xBB\xBF" + kGood, nullptr},
        {"blank first line", "\n" + kGood, nullptr},
        {"seven entries", kGood.substr(0, kGood.find("机型=")), nullptr},
        {"a word for a number", replace_all(kGood, "=27", "=high"), nullptr},
        {"number past int32", replace_all(kGood, "=40000", "=2147483648"), nullptr},
        {"entries run together", replace_all(kGood, "\n", ""), nullptr},  // the version takes all
        {"empty", "", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        g_state = ControllerState{};
        put(kSettingsFile, c.text);
        testing::internal::CaptureStderr();
        EXPECT_EQ(read_config(), c.model != nullptr);
        const std::string err = testing::internal::GetCapturedStderr();
        if (c.model == nullptr) {
            EXPECT_EQ(err.rfind("读取配置数据失败: ", 0), 0u) << err;
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
