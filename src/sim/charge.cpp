// One charge of the modelled phone in a device tree of its own: under
// velmora's own cycle on the simulated clock, under the real velmora with its
// clock and the model's sped up alike, or with no regulator.
#include "charge.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "debug_log.h"
#include "main.h"
#include "module_files.h"
#include "nodes.h"
#include "print.h"
#include "scan.h"
#include "settings.h"
#include "state.h"
#ifdef VELMORA_FAKETIME
#include "launch.h"
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kScreenOnBacklight = 120;  // any brightness but 0 means screen on
#ifdef VELMORA_FAKETIME
constexpr double kBehindWarning_s = 5;  // half a cycle: velmora then reads a stale phone
constexpr auto kFirstWriteWait = std::chrono::seconds(5);  // a full phone gets no write
#endif

// The level the capacity node shows, whole percent rounded down.
int32_t level_of(const PhoneState &s) {
    return static_cast<int32_t>(s.soc * 100);
}

// What the phone's nodes read now, in the kernel's units.
PhoneReadings readings_of(const PhoneParams &p, const PhoneState &s, bool screen_on) {
    PhoneReadings r;
    r.status = s.full ? "Full" : kChargingToken;
    r.battery_dC = static_cast<int32_t>(std::lround(s.battery_C * 10));
    r.board_mC = p.board_sensor ? static_cast<int32_t>(std::lround(s.board_C * 1000)) : 0;
    r.current_uA = static_cast<int32_t>(std::lround(-s.current_A * 1e6));  // charging: negative
    r.capacity_pct = level_of(s);
    r.backlight = screen_on ? kScreenOnBacklight : 0;
    return r;
}

PhoneState start_of(const Options &o) {
    const double battery = std::isnan(o.start_battery_C) ? o.phone.ambient_C : o.start_battery_C;
    return {battery, std::isnan(o.start_board_C) ? battery : o.start_board_C,
            o.start_soc_pct / 100};
}

std::string settings_of(const Options &o) {
    return settings_text(o.dlog, o.power, o.night, o.morning, o.on_temp_mC, o.off_temp_mC, "sim",
                         "simulated");
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
    // shows that moment, so an empty read is retried briefly. The limit is
    // read as velmora reads it back.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        ScanInput in;
        if (!scan_open(in, path.c_str())) return -1;
        int32_t uA = 0;
        const bool found = scan_int(in, &uA);
        const bool empty = in.len == 0;
        scan_close(in);
        if (found) return uA / 1e6;
        if (!empty) break;
    }
    return -1;  // unreadable: charges nothing
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
    for (int tenth = 0; tenth <= level_of(s) / 10; ++tenth) {
        if (std::isnan(run.to_level_s[tenth])) run.to_level_s[tenth] = x.t_s;
    }
    if (std::isnan(run.to_full_s) && s.full) run.to_full_s = x.t_s;
    run.peak_C = std::max(run.peak_C, s.battery_C);
    if (s.battery_C > x.target_C + 1) ++run.above_s;
    if (run.deviation_s > 0 || s.battery_C >= x.target_C) {
        run.deviation_sum += std::fabs(s.battery_C - x.target_C);
        ++run.deviation_s;
    }
    if (rewritten) ++run.writes;
    add_wear(run.wear, s, 1);
    if (std::fmod(x.t_s, kSampleEvery_s) == 0) run.samples.push_back(x);
}

// Whether a charge ends at second t: full, at the charge it stops at, or out of time.
bool done(const Options &o, const PhoneState &s, double t) {
    // At 100 % the charger itself stops, and the charge is counted as full.
    return s.full || (o.stop_soc_pct < 100 && s.soc * 100 >= o.stop_soc_pct) || t >= o.minutes * 60;
}

// Whether the screen is on t_s seconds into o's charge.
bool screen_on_at(const Options &o, double t_s) {
    return std::any_of(
        o.screen_on_s.begin(), o.screen_on_s.end(),
        [t_s](const std::array<double, 2> &span) { return span[0] <= t_s && t_s < span[1]; });
}

// A new directory for a charge's tree: in memory where there is a tmpfs, as
// sysfs is (a node is replaced every cycle, and a disk's journal makes that
// most of a charge's cost), else in o.trees when given, else the first
// temporary directory that takes it, else beside o.out (a phone's bare tree
// may have none of them).
std::string make_tree_dir(const Options &o) {
    const char *tmpdir = getenv("TMPDIR");
    for (const std::string &parent :
         {std::string("/dev/shm"), o.trees, std::string(tmpdir != nullptr ? tmpdir : ""),
          std::string("/tmp"), std::string("/data/local/tmp"), o.out}) {
        if (parent.empty()) continue;
        std::string name = parent + "/velmora-sim-XXXXXX";
        if (mkdtemp(name.data()) != nullptr) return name;
    }
    die("cannot make a temporary directory");
}

// A regulated charge's phone, laid out in a tree of its own (*root_out).
const std::string &lay_out_charge(const Options &o, std::string *root_out, NodeTexts *shown) {
    *root_out = make_tree_dir(o);
    lay_out_phone(o, *root_out, shown);
    return *root_out;
}

// velmora's own cycle (run_cycle, then the pause, then the log line) on the
// simulated clock, in this process: each cycle reads the nodes published for
// its second and writes the limit, which then holds for the pause's seconds
// of the model. The tree is the working directory meanwhile, where the
// cycle's paths lead.
Run charge_in_process(const Options &o, time_t start, std::string *root_out) {
    Run run;
    run.name = "regulated";
    PhoneState s = start_of(o);
    NodeTexts shown;
    const std::string root = lay_out_charge(o, root_out, &shown);
    const int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (home < 0 || chdir(root.c_str()) != 0) die("cannot enter " + root);
    setenv("TZ", "UTC", 1);  // the simulated clock is UTC
    tzset();
    g_state = ControllerState{};
    if (!probe_platform()) die("velmora finds no backlight in " + root);
    struct timespec last_write = {};
    bool rewritten = false;
    double t = 0;
    while (!done(o, s, t)) {
        if (!publish(".", readings_of(o.phone, s, screen_on_at(o, t)), &shown))
            die("cannot write in " + root);
        const unsigned pause_s = run_cycle(start + static_cast<time_t>(t));
        if (pause_s == 0) {
            fprintf(stderr, "velmora-sim: velmora's cycle ended in %s\n", root.c_str());
            exit(1);
        }
        // Read whole every cycle: a file's time stamp is too coarse to tell
        // cycles microseconds apart.
        const double limit_A = read_limit_A(".", &last_write, &rewritten, -1);
        const bool wrote = strcmp(g_state.status, kChargingToken) == 0;
        for (unsigned k = 0; k < pause_s && !done(o, s, t); ++k, ++t) {
            const bool screen_on = screen_on_at(o, t);
            step(o.phone, s, limit_A, screen_on, 1);
            account(run, {t + 1, s, limit_A, target_C(o, start, t + 1, screen_on)},
                    wrote && k == 0);
        }
        if (!publish(".", readings_of(o.phone, s, screen_on_at(o, t)), &shown))
            die("cannot write in " + root);
        if (g_state.dlog == 1) debug();
    }
    if (fchdir(home) != 0) die("cannot return to the working directory");
    close(home);
    return run;
}

}  // namespace

void lay_out_phone(const Options &o, const std::string &root, NodeTexts *shown) {
    PhoneReadings readings = readings_of(o.phone, start_of(o), screen_on_at(o, 0));
    readings.status = o.status;
    const auto limit_uA = static_cast<int32_t>(std::lround(o.phone.charger_max_A * 1e6));
    if (!lay_out_tree(root, readings, limit_uA, settings_of(o), shown))
        die("cannot write in " + root);
}

Run charge_unregulated(const Options &o, time_t start) {
    Run run;
    run.name = "unregulated";
    PhoneState s = start_of(o);
    for (double t = 0; !done(o, s, t); ++t) {
        const bool screen_on = screen_on_at(o, t);
        step(o.phone, s, o.phone.charger_max_A, screen_on, 1);
        account(run, {t + 1, s, o.phone.charger_max_A, target_C(o, start, t + 1, screen_on)},
                false);
    }
    return run;
}

#ifdef VELMORA_FAKETIME
namespace {

// The real velmora binary under libfaketime, its clock and the model's sped
// up alike, the model stepped each simulated second.
Run charge_under_faketime(const Options &o, time_t start, std::string *root_out) {
    Run run;
    run.name = "regulated";
    PhoneState s = start_of(o);
    NodeTexts shown;
    const std::string root = lay_out_charge(o, root_out, &shown);
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
        if (std::fmod(t, kSampleEvery_s) == 0 && waitpid(pid, &status, WNOHANG) == pid) {
            fprintf(stderr, "velmora-sim: velmora ended early; see %s/velmora.stderr\n",
                    o.out.c_str());
            exit(1);
        }
        const bool screen_on = screen_on_at(o, t);
        limit_A = read_limit_A(root, &last_write, &rewritten, limit_A);
        step(o.phone, s, limit_A, screen_on, 1);
        if (!publish(root, readings_of(o.phone, s, screen_on), &shown))
            die("cannot write in " + root);
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

}  // namespace
#endif

Run charge_regulated(const Options &o, time_t start, std::string *root_out) {
#ifdef VELMORA_FAKETIME
    if (!o.in_process) return charge_under_faketime(o, start, root_out);
#endif
    return charge_in_process(o, start, root_out);
}

void keep_log(const std::string &root, const std::string &out) {
    const fs::path log = fs::path(root) / kLogFile;
    std::error_code ignored;
    if (fs::exists(log)) fs::copy_file(log, out + "/PID_log", fs::copy_options::overwrite_existing);
    fs::remove_all(root, ignored);
}
