// velmoractl status: velmora's state now, as key=value lines, for the Action
// button and the settings page: whether it runs, the phone's readings, the
// target and limit now and what a stop gives back, the settings as velmora
// reads them, and the log.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "commands.h"
#include "files.h"
#include "module_files.h"
#include "nodes.h"
#include "reads.h"
#include "regulator.h"
#include "settings.h"
#include "verdict.h"

namespace {

// value / per_degree with one decimal: "37.8".
std::string celsius(int32_t value, double per_degree) {
    char text[32];
    (void)snprintf(text, sizeof text, "%.1f", value / per_degree);
    return text;
}

std::string node_celsius(const char *path, double per_degree) {
    int32_t value = 0;
    return node_int(path, &value) ? celsius(value, per_degree) : "none";
}

std::string local_time(time_t when, const char *format) {
    struct tm local;
    char text[32];
    if (localtime_r(&when, &local) == nullptr) return "";
    return strftime(text, sizeof text, format, &local) > 0 ? text : "";
}

// The zone velmora runs in: the environment's, else the one velmoractl zone stored.
void enter_velmora_zone() {
    if (getenv("TZ") == nullptr) (void)setenv("TZ", file_text(kTzFile).c_str(), 1);
    tzset();
}

// velmora's last report: the last line that velmoractl did not write ("<stamp>
// velmoractl: ..." lines come from the module's start and stop) of velmora.err,
// or of its older half when the report was the last line before a rotation.
std::string last_velmora_report() {
    for (const char *file : {kErrFile, kOlderErrFile}) {
        std::string tail = read_tail(file, kMaxRead_bytes);
        for (std::string line = last_line(tail); !tail.empty(); line = last_line(tail)) {
            if (line.find(" velmoractl: ") == std::string::npos) return line;
            tail.resize(tail.size() - std::min(tail.size(), line.size() + 1));
        }
    }
    return "";
}

const char *kTargetNames[] = {"screen on", "night window", "screen off"};

}  // namespace

CtlOutput ctl_status() {
    enter_velmora_zone();
    std::string out;
    const auto line = [&out](const char *key, const std::string &value) {
        out += std::string(key) + "=" + value + "\n";
    };
    // Since when velmora runs is the pid file's time, known only when it names velmora.
    const std::string named = pid_file_velmora();
    const std::string pid = named.empty() ? running_velmora() : named;
    struct stat st;
    line("running", pid.empty() ? "no" : "yes");
    line("pid", pid);
    line("since", !named.empty() && stat(kPidFile, &st) == 0
                      ? local_time(st.st_mtime, "%Y-%m-%d %H:%M")
                      : "");
    line("last_report", pid.empty() ? last_velmora_report() : "");
    line("status", node_word(kStatusNode));
    line("battery_C", node_celsius(kBatteryTempNode, 10));
    line("board_C", node_celsius(kBoardTempNode, 1000));

    const SettingsRead read = read_settings_file(kSettingsFile);
    const bool ok = read.verdict.whole == kSettingsCount;
    const ControllerState &s = read.values;
    const char *family = backlight_family();
    int32_t backlight = 0;  // unreadable: screen off, as velmora takes it
    if (family != nullptr && !node_int(brightness_node(family), &backlight)) backlight = 0;
    line("screen", backlight != 0 ? "on" : "off");
    const time_t now = time(nullptr);
    struct tm local = {};
    (void)localtime_r(&now, &local);
    const Target target = target_of(backlight, local.tm_hour, s);
    line("target", ok ? kTargetNames[static_cast<int>(target)] : "");
    line("target_C", ok ? celsius(target_mC(target, s), 1000) : "");

    const char *charge = charge_node(charge_generation());
    int32_t limit_uA = 0;
    line("limit_mA",
         node_int(charge, &limit_uA) ? std::to_string(limit_uA / kMicroampsPerMilliamp) : "none");
    char mode[8] = "none";
    if (stat(charge, &st) == 0) (void)snprintf(mode, sizeof mode, "%04o", st.st_mode & 07777);
    line("limit_mode", mode);
    out += charger_status_lines();

    out += verdict_lines(read.verdict);
    line("settings_end_byte", ok ? std::to_string(read.verdict.stop_byte) : "");
    for (int i = 0; i < kSettingsCount; ++i) line(kSettingsEntries[i].name, setting_text(read, i));
    line("max_current_mA", ok ? std::to_string(kMicroampsPerPowerPerDrive * s.in_power * kDriveMax /
                                               kMicroampsPerMilliamp)
                              : "");
    line("on_temp_C", ok ? celsius(s.on_temp, 1000) : "");
    line("off_temp_C", ok ? celsius(s.off_temp, 1000) : "");
    line("log", ok && s.dlog == 1 ? "on" : "off");
    line("log_bytes", std::to_string(stat(kLogFile, &st) == 0 ? st.st_size : 0));
    line("log_last", last_line(read_tail(kLogFile, kMaxRead_bytes)));
    return CtlOutput{0, out, ""};
}
