#include "control.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "files.h"
#include "main.h"
#include "nodes.h"
#include "regulator.h"
#include "scan.h"
#include "settings_file.h"
#include "zone.h"

namespace {

// A node, and the last line of velmora.err or PID_log, read at most this far.
constexpr size_t kMaxRead_bytes = 4096;

// Opens a node for the daemon's scanner: a regular file of one page at most,
// as every sysfs node is, so that a read stays bounded; looked at before
// opening, which would wait on a FIFO.
bool open_node(ScanInput &in, const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode) &&
           st.st_size <= static_cast<off_t>(kMaxRead_bytes) && scan_open(in, path);
}

// A node's integer by the daemon's own rules, without its report.
bool node_int(const char *path, int32_t *value) {
    ScanInput in;
    if (!open_node(in, path)) return false;
    const bool found = scan_int(in, value);
    scan_close(in);
    return found;
}

// A node's first word by the daemon's own rules, or "none".
std::string node_word(const char *path) {
    ScanInput in;
    char word[sizeof read_date_char];
    if (!open_node(in, path)) return "none";
    const bool found = scan_word(in, word, sizeof word);
    scan_close(in);
    return found ? word : "none";
}

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

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// The zone velmora runs in: the environment's, else the one velmoractl zone stored.
void enter_velmora_zone() {
    std::string tz;
    if (getenv("TZ") == nullptr && read_head(kTzFile, kMaxRead_bytes, &tz)) {
        (void)setenv("TZ", trimmed(tz).c_str(), 1);
    }
    tzset();
}

// velmora's pid when the pid file names a process whose program is velmora; "" otherwise.
std::string running_pid() {
    std::string pid, cmdline;
    if (!read_head(kPidFile, 32, &pid)) return "";
    pid = trimmed(pid);
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) return "";
    const std::string path = std::string(kProcDir) + "/" + pid + "/cmdline";
    if (!read_head(path.c_str(), kMaxRead_bytes, &cmdline)) return "";
    const std::string program = cmdline.substr(0, cmdline.find('\0'));
    const size_t slash = program.rfind('/');
    return program.substr(slash == std::string::npos ? 0 : slash + 1) == "velmora" ? pid : "";
}

// velmora's last report: velmora.err's last line that velmoractl did not
// write ("<stamp> velmoractl: ..." lines come from the module's start and stop).
std::string last_velmora_report() {
    std::string tail = read_tail(kErrFile, kMaxRead_bytes);
    for (std::string line = last_line(tail); !tail.empty(); line = last_line(tail)) {
        if (line.find(" velmoractl: ") == std::string::npos) return line;
        tail.resize(tail.size() - std::min(tail.size(), line.size() + 1));
    }
    return "";
}

const char *kTargetNames[] = {"screen on", "night window", "screen off"};

// charger.kept: the boot it was taken in, the node, its value and mode.
struct Kept {
    std::string boot, node;
    int32_t value_uA = 0;
    unsigned mode = 0;
};

std::string boot_id() {
    std::string id;
    return read_head(kBootIdFile, 64, &id) ? trimmed(id) : "";
}

// A whole number of the base within int32.
bool parse_number(const std::string &text, int base, int32_t *value) {
    char *end = nullptr;
    errno = 0;
    const long parsed = strtol(text.c_str(), &end, base);
    if (text.empty() || *end != '\0' || errno != 0 || parsed < INT32_MIN || parsed > INT32_MAX)
        return false;
    *value = static_cast<int32_t>(parsed);
    return true;
}

// The record's "key=value" lines, as ctl_charger_keep writes them.
bool read_kept(Kept *kept) {
    std::string text, value, mode;
    if (!read_head(kChargerKeptFile, kMaxRead_bytes, &text)) return false;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return false;
        const std::string key = line.substr(0, eq), rest = line.substr(eq + 1);
        if (key == "boot") kept->boot = rest;
        if (key == "node") kept->node = rest;
        if (key == "value") value = rest;
        if (key == "mode") mode = rest;
        at = end + 1;
    }
    int32_t bits = 0;
    if (!parse_number(value, 10, &kept->value_uA) || !parse_number(mode, 8, &bits)) return false;
    kept->mode = static_cast<unsigned>(bits) & 07777;
    return true;
}

std::string describe(const Kept &kept) {
    char text[64];
    (void)snprintf(text, sizeof text, "%d uA, mode %04o", kept.value_uA, kept.mode);
    return text;
}

}  // namespace

CtlOutput ctl_status() {
    enter_velmora_zone();
    std::string out;
    const auto line = [&out](const char *key, const std::string &value) {
        out += std::string(key) + "=" + value + "\n";
    };
    const std::string pid = running_pid();
    struct stat st;
    line("running", pid.empty() ? "no" : "yes");
    line("pid", pid);
    line("since",
         !pid.empty() && stat(kPidFile, &st) == 0 ? local_time(st.st_mtime, "%Y-%m-%d %H:%M") : "");
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

    out += verdict_lines(read.verdict);
    line("settings_end_byte", ok ? std::to_string(read.verdict.stop_byte) : "");
    for (int i = 0; i < kSettingsCount; ++i) line(kSettingsNames[i], setting_text(read, i));
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

CtlOutput ctl_probe() {
    const struct {
        const char *key, *path;
    } nodes[] = {
        {"battery_status", kStatusNode},
        {"battery_temp", kBatteryTempNode},
        {"board_temp", kBoardTempNode},
        {"qualcomm_backlight", kQualcommBacklightNode},
        {"mediatek_backlight", kMediatekBacklightNode},
        {"old_charge_current", kOldChargeNode},
        {"new_charge_current", kNewChargeNode},
        {"battery_current", kCurrentNowNode},
        {"battery_capacity", kCapacityNode},
    };
    CtlOutput output;
    for (const auto &node : nodes) {
        output.out += std::string(node.key) + "=" +
                      (access(node.path, F_OK) == 0 ? "present" : "missing") + "\n";
    }
    // What velmora cannot do without, by the probe's own existence tests.
    const struct {
        const char *name;
        bool present;
    } needed[] = {
        {"backlight", backlight_family() != nullptr},
        {"battery status", access(kStatusNode, F_OK) == 0},
        {"battery temperature", access(kBatteryTempNode, F_OK) == 0},
        {"charge current", access(charge_node(charge_generation()), F_OK) == 0},
    };
    std::string missing;
    for (const auto &need : needed) {
        if (!need.present) missing += std::string(missing.empty() ? "" : ", ") + need.name;
    }
    output.out += missing.empty() ? "supported=yes\n" : "supported=no\nmissing=" + missing + "\n";
    output.status = missing.empty() ? 0 : 1;
    return output;
}

CtlOutput ctl_charger_keep() {
    Kept kept;
    const std::string boot = boot_id();
    // Kept once per boot: a restart finds velmora's last limit in the node.
    if (!boot.empty() && read_kept(&kept) && kept.boot == boot) {
        return CtlOutput{0, "charge node kept already this boot: " + describe(kept) + "\n", ""};
    }
    kept = Kept{boot.empty() ? "unknown" : boot, charge_node(charge_generation()), 0, 0};
    struct stat st;
    if (!node_int(kept.node.c_str(), &kept.value_uA) || stat(kept.node.c_str(), &st) != 0) {
        return CtlOutput{1, "", "velmoractl: cannot read the charge node " + kept.node + "\n"};
    }
    kept.mode = st.st_mode & 07777;
    char record[512];
    (void)snprintf(record, sizeof record, "boot=%s\nnode=%s\nvalue=%d\nmode=%04o\n",
                   kept.boot.c_str(), kept.node.c_str(), kept.value_uA, kept.mode);
    if (!write_atomically(kChargerKeptFile, record)) {
        return usage_error(std::string("cannot write ") + kChargerKeptFile + ": " +
                           strerror(errno));
    }
    return CtlOutput{0, "charge node kept: " + describe(kept) + "\n", ""};
}

CtlOutput ctl_charger_restore() {
    Kept kept;
    if (!read_kept(&kept)) {
        return CtlOutput{1, "", std::string("velmoractl: no record in ") + kChargerKeptFile + "\n"};
    }
    // Only a record of this boot, and only to a charge node of the catalogue.
    if (kept.boot != boot_id() || (kept.node != kOldChargeNode && kept.node != kNewChargeNode)) {
        return CtlOutput{1, "", "velmoractl: the kept charge node is not of this boot\n"};
    }
    const int aimFile = open_charge_node(kept.node.c_str());
    if (aimFile < 0) {
        return CtlOutput{1, "",
                         "velmoractl: cannot open " + kept.node + ": " + strerror(errno) + "\n"};
    }
    write_aim_current(aimFile, kept.value_uA);
    (void)chmod(kept.node.c_str(), kept.mode);
    return CtlOutput{0, "charge node put back to " + describe(kept) + "\n", ""};
}

CtlOutput ctl_clear_log() {
    const int fd = open(kLogFile, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno != ENOENT) {
        return CtlOutput{
            1, "",
            std::string("velmoractl: cannot empty ") + kLogFile + ": " + strerror(errno) + "\n"};
    }
    if (fd >= 0) close(fd);
    return CtlOutput{0, "cleared\n", ""};
}

CtlOutput ctl_zone(const std::string &property) {
    std::string tz, why;
    CtlOutput output;
    if (!resolve_zone(property, &tz, &why)) {
        output.status = 1;
        output.err = "velmoractl: " + why + "; velmora runs on UTC\n";
    }
    output.out = tz + "\n";
    if (!write_atomically(kTzFile, tz + "\n")) {
        output.status = 1;
        output.err +=
            std::string("velmoractl: cannot write ") + kTzFile + ": " + strerror(errno) + "\n";
    }
    return output;
}
