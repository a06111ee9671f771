#include "charge.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "launch.h"
#include "main.h"
#include "nodes.h"

namespace fs = std::filesystem;

namespace {

constexpr double kSampleEvery_s = 10;    // CSV rows, one per daemon cycle
constexpr int kScreenOnBacklight = 120;  // any brightness but 0 means screen on
constexpr double kBehindWarning_s = 5;   // half a cycle: velmora then reads a stale phone
constexpr auto kFirstWriteWait = std::chrono::seconds(5);  // a full phone gets no write

// Replaces a node whole (temporary file, then rename), as the kernel's nodes
// never show a half-written value.
void put_node(const std::string &root, const char *node, const std::string &text) {
    const std::string path = root + "/" + node;
    const std::string tmp = path + ".new";
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        close(fd) != 0 || rename(tmp.c_str(), path.c_str()) != 0) {
        die("cannot write " + path);
    }
}

std::string settings_text(const Options &o) {
    char text[256];
    snprintf(text, sizeof text,
             "日志开关=%d\n功率=%d\n晚上=%d\n早上=%d\n亮屏温度=%d\n息屏温度=%d\n版本=sim\n"
             "机型=simulated\n",
             o.dlog, o.power, o.night, o.morning, o.on_temp_mC, o.off_temp_mC);
    return text;
}

// The readings velmora's nodes show now, in publish's order.
using Shown = std::array<std::string, 6>;

// Writes the nodes whose reading changed: most stay put from one simulated
// second to the next, and each write costs a rename at high speeds.
void publish(const std::string &root, const PhoneState &s, bool screen_on, Shown *shown) {
    const char *nodes[] = {kStatusNode,     kBatteryTempNode, kBoardTempNode,
                           kCurrentNowNode, kCapacityNode,    kQualcommBacklightNode};
    const Shown now = {s.full ? "Full\n" : "Charging\n",
                       std::to_string(std::lround(s.battery_C * 10)) + "\n",
                       std::to_string(std::lround(s.board_C * 1000)) + "\n",
                       // The kernel counts charging as negative µA.
                       std::to_string(std::lround(-s.current_A * 1e6)) + "\n",
                       std::to_string(static_cast<int>(s.soc * 100)) + "\n",
                       screen_on ? std::to_string(kScreenOnBacklight) + "\n" : "0\n"};
    for (size_t i = 0; i < now.size(); ++i) {
        if (now[i] != (*shown)[i]) put_node(root, nodes[i], now[i]);
    }
    *shown = now;
}

std::string lay_out_tree(const Options &o, const PhoneState &s, Shown *shown) {
    char name[] = "/tmp/velmora-sim-XXXXXX";
    if (mkdtemp(name) == nullptr) die("cannot make a temporary directory");
    const std::string root = name;
    const char *nodes[] = {kStatusNode,   kBatteryTempNode,       kBoardTempNode, kCurrentNowNode,
                           kCapacityNode, kQualcommBacklightNode, kOldChargeNode, kSettingsFile};
    for (const char *node : nodes) fs::create_directories((fs::path(root) / node).parent_path());
    publish(root, s, o.screen_on_min > 0, shown);
    put_node(root, kOldChargeNode, std::to_string(std::lround(o.phone.charger_max_A * 1e6)) + "\n");
    put_node(root, kSettingsFile, settings_text(o));
    return root;
}

// The charge node's limit in A, and whether velmora rewrote it since last time;
// known_A (negative: none) stands while the node is unchanged, sparing reads.
double read_limit_A(const std::string &root, struct timespec *last_write, bool *rewritten,
                    double known_A) {
    const std::string path = root + "/" + kOldChargeNode;
    struct stat st;
    *rewritten = stat(path.c_str(), &st) == 0 && (st.st_mtim.tv_sec != last_write->tv_sec ||
                                                  st.st_mtim.tv_nsec != last_write->tv_nsec);
    if (*rewritten) *last_write = st.st_mtim;
    if (!*rewritten && known_A >= 0) return known_A;
    // velmora truncates the node just before it writes; a kernel node never
    // shows that moment, so an empty read is retried briefly.
    ssize_t n = 0;
    char text[32] = {};
    for (int attempt = 0; n == 0 && attempt < 5; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return -1;
        n = read(fd, text, sizeof text - 1);
        close(fd);
    }
    char *end = nullptr;
    const long uA = n > 0 ? strtol(text, &end, 10) : 0;
    return n > 0 && end != text ? uA / 1e6 : -1;  // unreadable: charges nothing
}

// The target velmora aims at, by the same rules, for the summary.
double target_C(const Options &o, time_t start, double t_s, bool screen_on) {
    ControllerState settings;
    settings.night = o.night, settings.morning = o.morning;
    settings.on_temp = o.on_temp_mC, settings.off_temp = o.off_temp_mC;
    const time_t now = start + static_cast<time_t>(t_s);
    struct tm tm;
    gmtime_r(&now, &tm);
    const int backlight = screen_on ? kScreenOnBacklight : 0;
    return target_mC(target_of(backlight, tm.tm_hour, settings), settings) / 1000.0;
}

void account(Run &run, const Sample &x, bool rewritten) {
    const PhoneState &s = x.phone;
    if (std::isnan(run.to_80_s) && s.soc >= 0.80) run.to_80_s = x.t_s;
    if (std::isnan(run.to_full_s) && s.full) run.to_full_s = x.t_s;
    run.peak_C = std::max(run.peak_C, s.battery_C);
    if (s.battery_C > x.target_C + 1) ++run.above_s;
    if (run.deviation_s > 0 || s.battery_C >= x.target_C) {
        run.deviation_sum += std::fabs(s.battery_C - x.target_C);
        ++run.deviation_s;
    }
    if (rewritten) ++run.writes;
    if (std::fmod(x.t_s, kSampleEvery_s) == 0) run.samples.push_back(x);
}

// Whether a charge ends at second t: full, at the charge it stops at, or out of time.
bool done(const Options &o, const PhoneState &s, double t) {
    // At 100 % the charger itself stops, and the charge is counted as full.
    return s.full || (o.stop_soc_pct < 100 && s.soc * 100 >= o.stop_soc_pct) || t >= o.minutes * 60;
}

}  // namespace

[[noreturn]] void die(const std::string &what) {
    fprintf(stderr, "velmora-sim: %s: %s\n", what.c_str(), strerror(errno));
    exit(1);
}

std::string clock_at(time_t start, double t_s) {
    const time_t now = start + static_cast<time_t>(t_s);
    struct tm tm;
    gmtime_r(&now, &tm);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

std::string fixed(double v) {
    char text[32];
    snprintf(text, sizeof text, "%.1f", v);
    return std::isnan(v) ? "-" : text;
}

Run charge_unregulated(const Options &o, time_t start) {
    Run run{"unregulated", {}};
    PhoneState s{o.phone.ambient_C, o.phone.ambient_C, o.start_soc_pct / 100};
    for (double t = 0; !done(o, s, t); ++t) {
        const bool screen_on = t < o.screen_on_min * 60;
        step(o.phone, s, o.phone.charger_max_A, screen_on, 1);
        account(run, {t + 1, s, o.phone.charger_max_A, target_C(o, start, t + 1, screen_on)},
                false);
    }
    return run;
}

Run charge_regulated(const Options &o, time_t start, std::string *root_out) {
    Run run{"regulated", {}};
    PhoneState s{o.phone.ambient_C, o.phone.ambient_C, o.start_soc_pct / 100};
    Shown shown;
    const std::string root = lay_out_tree(o, s, &shown);
    *root_out = root;
    char velmora_path[4096];
    if (realpath(o.velmora.c_str(), velmora_path) == nullptr) die("cannot find " + o.velmora);
    struct timespec last_write = {};
    bool rewritten = false;
    read_limit_A(root, &last_write, &rewritten, -1);
    rewritten = false;  // the charger's own value is no write
    const pid_t pid = launch_velmora(velmora_path, o.faketime_library, root,
                                     o.out + "/velmora.stderr", o.start, o.speed);
    if (pid < 0) die("cannot fork");
    // Our clock starts with velmora's first limit, the end of its first cycle's
    // work: its start-up, slow on a busy machine, would otherwise put its time
    // stamps that many sped-up seconds behind the phone.
    const auto launched = std::chrono::steady_clock::now();
    while (!rewritten && std::chrono::steady_clock::now() - launched < kFirstWriteWait) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        read_limit_A(root, &last_write, &rewritten, 0);
    }
    const auto real_start = std::chrono::steady_clock::now();
    run.writes += rewritten;
    double limit_A = -1, behind_sum_s = 0, t = 0;
    for (; !done(o, s, t); ++t) {
        // Simulated second t + 1 starts when the sped-up clock reaches it.
        const auto due = real_start + std::chrono::duration<double>((t + 1) / o.speed);
        std::this_thread::sleep_until(due);
        behind_sum_s +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - due).count() * o.speed;
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            fprintf(stderr, "velmora-sim: velmora ended early; see %s/velmora.stderr\n",
                    o.out.c_str());
            exit(1);
        }
        const bool screen_on = t < o.screen_on_min * 60;
        limit_A = read_limit_A(root, &last_write, &rewritten, limit_A);
        step(o.phone, s, limit_A, screen_on, 1);
        publish(root, s, screen_on, &shown);
        account(run, {t + 1, s, limit_A, target_C(o, start, t + 1, screen_on)}, rewritten);
    }
    end_velmora(pid);
    if (t > 0 && behind_sum_s / t > kBehindWarning_s) {
        fprintf(stderr,
                "velmora-sim: this machine ran %.0f simulated seconds behind velmora's clock on "
                "average; a lower --speed keeps the two together\n",
                behind_sum_s / t);
    }
    return run;
}
