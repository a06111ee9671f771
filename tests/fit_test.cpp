// The fit recovers a phone unlike the default from a log that the model made
// of it under the real velmora, through lines that are not velmora's.
#include "fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>

#include "phone.h"

TEST(Fit, RecoversAPhoneFromItsOwnLog) {
    const fs::path dir = fs::temp_directory_path() / ("velmora-fit-" + std::to_string(getpid()));
    fs::create_directories(dir);
    PhoneParams truth;
    truth.battery_heat_J_per_K = 80, truth.board_heat_J_per_K = 40;
    truth.battery_to_ambient_K_per_W = 14, truth.board_to_ambient_K_per_W = 22;
    truth.battery_to_board_K_per_W = 3, truth.cell_ohm_25C = 0.12;
    truth.ambient_C = 27, truth.screen_load_W = 2;
    nlohmann::json model;
    for (const ModelParameter &m : kModelParameters)
        model["parameters"][m.name]["value"] = truth.*m.field;
    put(dir / "truth.json", model.dump());
    const std::string charge = std::string(VELMORA_SIM) + " --model " +
                               (dir / "truth.json").string() + " --minutes 40 --speed 100 --out " +
                               (dir / "charge").string() + " >/dev/null 2>&1";
    ASSERT_EQ(system(charge.c_str()), 0);

    // Hostile rows among velmora's lines; a CRLF ending is velmora's still.
    const char *hostile[] = {
        "",
        "garbage",
        "\xff\xfe binary",
        "2026-06-01 21:40:00,晚上=22到早上=7,亮屏温度=40000",  // cut short
        "2026-06-01 21:40:00,晚上=22到早上=7,亮屏温度=40000,息屏温度=38000,状态=Charging,"
        "功率配置=27目标温度=40000,电池温度99999999999999999999,主板温度1,平均温度1,计算值=1,"
        "目标电流=1mA,当前电流=1mA,电量=1,积分值=1,微分值=1,a,b,c,d",  // out of range
        "2026-13-01 21:40:00,晚上=22到早上=7,亮屏温度=40000,息屏温度=38000,状态=Charging,"
        "功率配置=27目标温度=40000,电池温度1,主板温度1,平均温度1,计算值=1,"
        "目标电流=1mA,当前电流=1mA,电量=1,积分值=1,微分值=1,a,b,c,d",  // no such month
    };
    std::istringstream lines(slurp(dir / "charge" / "PID_log"));
    std::string text, line;
    for (int i = 0; std::getline(lines, line); ++i) {
        text += line + (i == 7 ? "\r\n" : "\n");
        if (i == 5) {
            for (const char *row : hostile) text += std::string(row) + "\n";
        }
    }
    put(dir / "log", text);
    Log log;
    std::string error;
    ASSERT_TRUE(read_log((dir / "log").string(), &log, &error)) << error;
    EXPECT_EQ(log.skipped, static_cast<int>(std::size(hostile)));

    // Given the ambient, one charge pins every other parameter down.
    PhoneParams start;
    start.ambient_C = truth.ambient_C;
    const Fit f = fit(log, start, true);
    EXPECT_TRUE(f.converged);
    for (size_t i = 0; i < kModelParameters.size(); ++i) {
        const ModelParameter &m = kModelParameters[i];
        if (m.field == &PhoneParams::ambient_C) continue;
        EXPECT_TRUE(f.fitted[i] && !f.at_bound[i]) << m.name;
        EXPECT_NEAR(f.phone.*m.field / truth.*m.field, 1, 0.1) << m.name;
    }
    EXPECT_LT(rms_K(log, replay(log, f.phone).battery_C, false), 0.3);

    // Without a board sensor the battery's side alone is fitted.
    for (LogLine &x : log.lines) x.board_C = 0;
    log.board_sensor = false;
    const Fit battery = fit(log, start, true);
    for (size_t i = 0; i < kModelParameters.size(); ++i) {
        const double PhoneParams::*field = kModelParameters[i].field;
        EXPECT_EQ(battery.fitted[i], field == &PhoneParams::battery_heat_J_per_K ||
                                         field == &PhoneParams::battery_to_ambient_K_per_W ||
                                         field == &PhoneParams::cell_ohm_25C)
            << kModelParameters[i].name;
    }
    fs::remove_all(dir);
}
