// velmora-sim: charges a modelled phone twice, once under the real velmora
// binary (its clock and ours sped up alike by libfaketime) and once with the
// limit left at the charger's maximum, then prints both side by side and
// writes every series to a CSV.
#include "main.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "launch.h"
#include "model.h"
#include "nodes.h"

namespace fs = std::filesystem;

namespace {

constexpr double kMaxCharge_s = 6 * 3600;  // a charge that is not full by then is cut off
constexpr double kSampleEvery_s = 10;      // CSV rows, one per daemon cycle
constexpr int kScreenOnBacklight = 120;    // any brightness but 0 means screen on

struct Options {
    PhoneParams phone;
    double start_soc_pct = 15;
    std::string start = "2026-06-01 21:30:00";  // UTC on the faked clock
    double screen_on_min = 20;
    double speed = 300;
    double minutes = kMaxCharge_s / 60;  // stop here if not full before
    int power = 27, night = 22, morning = 7, on_temp_mC = 40000, off_temp_mC = 38000, dlog = 1;
    std::string velmora = VELMORA_BINARY;
    std::string faketime_library = FAKETIME_LIBRARY;
    std::string out = "demo-out";
};

struct Sample {
    double t_s;
    PhoneState phone;
    double limit_A, target_C;
};

struct Run {
    const char *name;
    std::vector<Sample> samples;
    double to_80_s = NAN, to_full_s = NAN, peak_C = -INFINITY;
    double above_s = 0;                         // time with the battery over target + 1 °C
    double deviation_sum = 0, deviation_s = 0;  // |battery - target| once the target was reached
    int writes = 0;
};

[[noreturn]] void die(const std::string &what) {
    fprintf(stderr, "velmora-sim: %s: %s\n", what.c_str(), strerror(errno));
    exit(1);
}

// Seconds since the epoch of "YYYY-MM-DD hh:mm:ss" read as UTC; false when
// the text is not one.
bool parse_utc(const std::string &text, time_t *utc) {
    struct tm tm = {};
    const char *end = strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &tm);
    if (end == nullptr || *end != '\0') return false;
    *utc = timegm(&tm);
    return true;
}

Options parse(int argc, char **argv) {
    Options o;
    CLI::App app{
        "Charges a modelled phone twice, under the real velmora and with no regulator, and "
        "compares them.",
        "velmora-sim"};
    app.option_defaults()->always_capture_default();
    app.add_option("--out", o.out, "directory for the summary, charge.csv and velmora's PID_log");
    app.add_option("--velmora", o.velmora, "the velmora binary to run")->check(CLI::ExistingFile);
    app.add_option("--faketime-library", o.faketime_library, "libfaketime.so.1, preloaded")
        ->check(CLI::ExistingFile);
    app.add_option("--start", o.start, "the clock at the start, 'YYYY-MM-DD hh:mm:ss' UTC")
        ->check([](const std::string &text) {
            time_t utc = 0;
            return parse_utc(text, &utc) ? "" : "not YYYY-MM-DD hh:mm:ss";
        });
    app.add_option("--speed", o.speed, "times faster than real time")
        ->check(CLI::Range(1.0, 10000.0));
    app.add_option("--minutes", o.minutes, "simulated minutes at most, min")
        ->check(CLI::Range(1.0, kMaxCharge_s / 60));
    app.add_option("--ambient", o.phone.ambient_C, "air temperature, °C")
        ->check(CLI::Range(-20.0, 60.0));
    app.add_option("--start-soc", o.start_soc_pct, "charge at the start, %")
        ->check(CLI::Range(0.0, 100.0));
    app.add_option("--screen-on-min", o.screen_on_min,
                   "the screen is on for the first minutes, min")
        ->check(CLI::Range(0.0, kMaxCharge_s / 60));
    app.add_option("--screen-load", o.phone.screen_load_W, "power the screen adds, W")
        ->check(CLI::Range(0.0, 20.0));
    app.add_option("--efficiency", o.phone.efficiency,
                   "charger efficiency: 0.91 a buck converter, 0.97 a charge pump")
        ->check(CLI::Range(0.5, 1.0));
    app.add_option("--charger-max", o.phone.charger_max_A, "the charger's own limit, A")
        ->check(CLI::Range(0.1, 20.0));
    app.add_option("--power", o.power, "velmora's 功率: the limit is 1833 uA x power x drive");
    app.add_option("--night", o.night, "velmora's 晚上: the night window opens, hour 0..23");
    app.add_option("--morning", o.morning, "velmora's 早上: the night window closes, hour 0..23");
    app.add_option("--on-temp", o.on_temp_mC, "velmora's 亮屏温度: target, screen on, m°C");
    app.add_option("--off-temp", o.off_temp_mC, "velmora's 息屏温度: target, screen off, m°C");
    app.add_option("--log", o.dlog, "velmora's 日志开关: 1 writes PID_log");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        exit(app.exit(error));
    }
    return o;
}

std::string clock_at(time_t start, double t_s) {
    const time_t now = start + static_cast<time_t>(t_s);
    struct tm tm;
    gmtime_r(&now, &tm);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

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

void publish(const std::string &root, const PhoneState &s, bool screen_on) {
    put_node(root, kStatusNode, s.full ? "Full\n" : "Charging\n");
    put_node(root, kBatteryTempNode, std::to_string(std::lround(s.battery_C * 10)) + "\n");
    put_node(root, kBoardTempNode, std::to_string(std::lround(s.board_C * 1000)) + "\n");
    put_node(root, kCurrentNowNode, std::to_string(std::lround(s.current_A * 1e6)) + "\n");
    put_node(root, kCapacityNode, std::to_string(static_cast<int>(s.soc * 100)) + "\n");
    put_node(root, kQualcommBacklightNode,
             screen_on ? std::to_string(kScreenOnBacklight) + "\n" : "0\n");
}

std::string lay_out_tree(const Options &o, const PhoneState &s) {
    char name[] = "/tmp/velmora-sim-XXXXXX";
    if (mkdtemp(name) == nullptr) die("cannot make a temporary directory");
    const std::string root = name;
    const char *nodes[] = {kStatusNode,   kBatteryTempNode,       kBoardTempNode, kCurrentNowNode,
                           kCapacityNode, kQualcommBacklightNode, kOldChargeNode, kSettingsFile};
    for (const char *node : nodes) fs::create_directories((fs::path(root) / node).parent_path());
    publish(root, s, o.screen_on_min > 0);
    put_node(root, kOldChargeNode, std::to_string(std::lround(o.phone.charger_max_A * 1e6)) + "\n");
    put_node(root, kSettingsFile, settings_text(o));
    return root;
}

// The charge node's limit in A, and whether velmora rewrote it since last time.
double read_limit_A(const std::string &root, struct timespec *last_write, bool *rewritten) {
    const std::string path = root + "/" + kOldChargeNode;
    struct stat st;
    *rewritten = stat(path.c_str(), &st) == 0 && (st.st_mtim.tv_sec != last_write->tv_sec ||
                                                  st.st_mtim.tv_nsec != last_write->tv_nsec);
    if (*rewritten) *last_write = st.st_mtim;
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
    if (screen_on) return o.on_temp_mC / 1000.0;
    const time_t now = start + static_cast<time_t>(t_s);
    struct tm tm;
    gmtime_r(&now, &tm);
    return in_night_window(tm.tm_hour, o.night, o.morning) ? 39.0 : o.off_temp_mC / 1000.0;
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

Run charge_unregulated(const Options &o, time_t start) {
    Run run{"unregulated", {}};
    PhoneState s{o.phone.ambient_C, o.phone.ambient_C, o.start_soc_pct / 100};
    for (double t = 0; !s.full && t < o.minutes * 60; ++t) {
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
    const std::string root = lay_out_tree(o, s);
    *root_out = root;
    char velmora_path[4096];
    if (realpath(o.velmora.c_str(), velmora_path) == nullptr) die("cannot find " + o.velmora);
    const pid_t pid = launch_velmora(velmora_path, o.faketime_library, root,
                                     o.out + "/velmora.stderr", o.start, o.speed);
    if (pid < 0) die("cannot fork");
    const auto real_start = std::chrono::steady_clock::now();
    struct timespec last_write = {};
    bool rewritten = false;
    read_limit_A(root, &last_write, &rewritten);  // the charger's own value is no write
    for (double t = 0; !s.full && t < o.minutes * 60; ++t) {
        // Simulated second t + 1 starts when the sped-up clock reaches it.
        std::this_thread::sleep_until(real_start +
                                      std::chrono::duration<double>((t + 1) / o.speed));
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            fprintf(stderr, "velmora-sim: velmora ended early; see %s/velmora.stderr\n",
                    o.out.c_str());
            exit(1);
        }
        const bool screen_on = t < o.screen_on_min * 60;
        const double limit_A = read_limit_A(root, &last_write, &rewritten);
        step(o.phone, s, limit_A, screen_on, 1);
        publish(root, s, screen_on);
        account(run, {t + 1, s, limit_A, target_C(o, start, t + 1, screen_on)}, rewritten);
    }
    end_velmora(pid);
    return run;
}

std::string minutes(double s) {
    char text[32];
    if (std::isnan(s)) return "-";
    snprintf(text, sizeof text, "%.1f", s / 60);
    return text;
}

void print_summary(const Run &a, const Run &b) {
    auto row = [](const char *what, const std::string &x, const std::string &y) {
        // Pads by characters, not bytes: "°" takes two bytes but one column.
        int columns = 0;
        for (const char *c = what; *c != '\0'; ++c) columns += (*c & 0xC0) != 0x80;
        printf("%s%*s %12s %12s\n", what, 42 - columns, "", x.c_str(), y.c_str());
    };
    auto fixed = [](double v) {
        char text[32];
        snprintf(text, sizeof text, "%.1f", v);
        return std::string(text);
    };
    row("", a.name, b.name);
    row("minutes to 80 %", minutes(a.to_80_s), minutes(b.to_80_s));
    row("minutes to full", minutes(a.to_full_s), minutes(b.to_full_s));
    row("peak battery temperature, °C", fixed(a.peak_C), fixed(b.peak_C));
    row("minutes above target + 1 °C", minutes(a.above_s), minutes(b.above_s));
    row("mean |battery - target| once reached, °C",
        a.deviation_s > 0 ? fixed(a.deviation_sum / a.deviation_s) : "-",
        b.deviation_s > 0 ? fixed(b.deviation_sum / b.deviation_s) : "-");
    row("limit writes", std::to_string(a.writes), std::to_string(b.writes));
}

void write_csv(const std::string &path, time_t start, const std::vector<const Run *> &runs) {
    FILE *csv = fopen(path.c_str(), "w");
    if (csv == nullptr) die("cannot write " + path);
    fprintf(csv, "run,clock,battery_C,board_C,target_C,limit_mA,current_mA,soc_pct\n");
    for (const Run *run : runs) {
        for (const Sample &x : run->samples) {
            fprintf(csv, "%s,%s,%.2f,%.2f,%.1f,%.0f,%.0f,%.1f\n", run->name,
                    clock_at(start, x.t_s).c_str(), x.phone.battery_C, x.phone.board_C, x.target_C,
                    x.limit_A * 1000, x.phone.current_A * 1000, x.phone.soc * 100);
        }
    }
    fclose(csv);
}

}  // namespace

int main(int argc, char **argv) {
    const Options o = parse(argc, argv);
    time_t start = 0;
    parse_utc(o.start, &start);  // checked with the options
    mkdir(o.out.c_str(), 0755);
    fprintf(stderr, "charging under velmora at %gx speed ...\n", o.speed);
    std::string root;
    const Run regulated = charge_regulated(o, start, &root);
    const Run unregulated = charge_unregulated(o, start);
    print_summary(regulated, unregulated);
    write_csv(o.out + "/charge.csv", start, {&regulated, &unregulated});
    const fs::path log = fs::path(root) / kLogFile;
    std::error_code ignored;
    if (fs::exists(log))
        fs::copy_file(log, o.out + "/PID_log", fs::copy_options::overwrite_existing);
    fs::remove_all(root, ignored);
    return 0;
}
