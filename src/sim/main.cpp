// velmora-sim: charges a modelled phone twice, once under the real velmora
// binary and once with the limit left at the charger's maximum, then prints
// both side by side and writes every series to a CSV. Its subcommands fit the
// model to a phone's own PID_log, replay a log through a model, check a
// model forward against a log, sweep a grid of settings on a model, print a
// log as the plots' CSV, and lay out the simulated phone's device tree.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "charge.h"
#include "check.h"
#include "fit.h"
#include "log.h"
#include "log_line.h"
#include "nodes.h"
#include "print.h"
#include "sweep.h"
#include "tune.h"

namespace fs = std::filesystem;

namespace {

// The columns of a charge's CSV that tools/plot.gp draws.
constexpr char kPlotColumns[] = "run,clock,battery_C,board_C,target_C,limit_mA,current_mA,soc_pct";
constexpr double kSweepSpeed = 600;  // also check's
// A charge waits on the sped-up clock most of the time (about 6 % of a core
// at 600x, velmora's included), so a core carries three at once.
constexpr unsigned kChargesPerCore = 3;

struct Command {
    enum { kDemo, kFit, kReplay, kCheck, kSweep, kSeries, kTree, kTune } what = kDemo;
    Options o;
    TuneOptions tune;
    std::string log, model, root;
    bool ambient_given = false;
    double max_peak_C = NAN;
    double screen_on_min = 20;
    std::vector<int> off_temps_mC = {36000, 38000, 40000};
    std::vector<int> powers = {14, 20, 27, 34};
    unsigned jobs =
        kChargesPerCore * std::max(1u, std::thread::hardware_concurrency());  // 0: unknown
};

// The subcommands and their own arguments; none parsed: the demo.
struct Subcommands {
    CLI::App *fit, *replay, *check, *series, *tree, *tune, *sweep;
};
Subcommands add_subcommands(CLI::App &app, Command &c) {
    Subcommands sub{};
    sub.fit = app.add_subcommand("fit", "fits the model to a PID_log; prints the model as JSON");
    sub.fit->add_option("LOG", c.log, "velmora's PID_log, pulled from the phone")
        ->required()
        ->check(CLI::ExistingFile);
    sub.replay = app.add_subcommand(
        "replay", "drives the model with a log's current, level and screen; prints CSV");
    sub.replay->add_option("LOG", c.log, "velmora's PID_log")->required()->check(CLI::ExistingFile);
    sub.check = app.add_subcommand("check",
                                   "charges the model under velmora as the log's widest charge "
                                   "went (the most level) and compares; "
                                   "exit status 2 when the model cannot be trusted for sweep");
    sub.check->add_option("LOG", c.log, "velmora's PID_log")->required()->check(CLI::ExistingFile);
    sub.series = app.add_subcommand(
        "series", "prints a log's velmora lines as the plots' CSV; counts the others on stderr");
    sub.series->add_option("LOG", c.log, "velmora's PID_log")->required()->check(CLI::ExistingFile);
    sub.tree = app.add_subcommand(
        "tree",
        "lays out the phone at the start of a charge in a directory, for velmora to run in");
    sub.tree->add_option("ROOT", c.root, "the directory, made when missing")->required();
    sub.tree->add_option("--status", c.o.status, "the battery status node's word");
    sub.tune = app.add_subcommand(
        "tune",
        "fits the twin to the log's last two days, checks it, sweeps around today's 配置 and "
        "recommends the fastest setting that peaks no hotter; writes tune.json beside the log");
    sub.tune->add_option("LOG", c.tune.log, "velmora's PID_log, in the module's folder")
        ->required();
    sub.tune
        ->add_option("--max-peak", c.tune.max_peak_C,
                     "the hottest peak allowed, °C (default: today's setting's on the twin)")
        ->check(CLI::Range(0.0, 80.0));
    sub.tune->add_flag(
        "--summary", c.tune.summary,
        "only prints what the log's last two days hold and whether a tune can use it");
    sub.sweep = app.add_subcommand(
        "sweep", "charges the phone under velmora for each screen-off target and power");
    sub.sweep->add_option("--off-temps", c.off_temps_mC, "screen-off targets (息屏温度), m°C")
        ->check(CLI::Range(20000, 60000));
    sub.sweep->add_option("--powers", c.powers, "powers (功率)")->check(CLI::Range(1, 100));
    sub.sweep
        ->add_option("--max-peak", c.max_peak_C, "marks the fastest setting with a peak under, °C")
        ->check(CLI::Range(0.0, 80.0));
    sub.sweep->add_option("--jobs", c.jobs, "charges at a time")->check(CLI::Range(1, 64));
    return sub;
}

// The options of every charge: how it runs, the phone and velmora's settings.
void add_charge_options(CLI::App &app, Command &c) {
    Options &o = c.o;
    app.add_option("--model", c.model, "a model file that fit wrote: the phone to simulate")
        ->check(CLI::ExistingFile);
    app.add_option("--out", o.out,
                   "directory for charge.csv, velmora's PID_log and velmora.stderr");
#ifdef VELMORA_FAKETIME
    app.add_flag("--in-process", o.in_process,
                 "runs velmora's own cycle in this process on the simulated clock (CPU time "
                 "only, one charge at a time) instead of the velmora binary under libfaketime");
    app.add_option("--velmora", o.velmora, "the velmora binary to run")->check(CLI::ExistingFile);
    app.add_option("--faketime-library", o.faketime_library, "libfaketime.so.1, preloaded")
        ->check(CLI::ExistingFile);
#endif
    app.add_option("--start", o.start, "the clock at the start, 'YYYY-MM-DD hh:mm:ss' UTC")
        ->check([](const std::string &text) {
            int64_t utc = 0;
            return parse_stamp(text, &utc) ? "" : "not YYYY-MM-DD hh:mm:ss";
        });
    app.add_option("--speed", o.speed, "times faster than real time")
        ->check(CLI::Range(1.0, 10000.0));
    app.add_option("--minutes", o.minutes, "simulated minutes at most, min")
        ->check(CLI::Range(1.0, kMaxCharge_s / 60));
    app.add_option("--ambient", o.phone.ambient_C, "air temperature, °C")
        ->check(CLI::Range(-20.0, 60.0));
    app.add_option("--start-soc", o.start_soc_pct, "charge at the start, %")
        ->check(CLI::Range(0.0, 100.0));
    app.add_option("--stop-at", o.stop_soc_pct, "charge where the charges stop, % (sweep: 80)")
        ->check(CLI::Range(1.0, 100.0));
    app.add_option("--screen-on-min", c.screen_on_min,
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
}

// Each subcommand's own defaults for the options not given.
void apply_defaults(const CLI::App &app, Command &c) {
    Options &o = c.o;
    const auto given = [&](const char *option) { return app[option]->count() > 0; };
    c.ambient_given = given("--ambient");
    if (c.what == Command::kSweep) {
        if (!given("--start")) o.start = kSweepStart;
        if (!given("--speed")) o.speed = kSweepSpeed;
        if (!given("--out")) o.out = "sweep-out";
        if (!given("--stop-at")) o.stop_soc_pct = kSweepStop_pct;
        if (!given("--screen-on-min")) c.screen_on_min = 0;  // the screen-off target's
    }
    if (c.what == Command::kTune) {
        o.in_process = true;  // CPU time only, as on the phone
        c.tune.dir = fs::path(c.tune.log).parent_path().string();
        if (c.tune.dir.empty()) c.tune.dir = ".";
        c.tune.ambient_given = c.ambient_given;
    }
    if (c.what == Command::kCheck) {
        if (!given("--speed")) o.speed = kSweepSpeed;
        if (!given("--out")) o.out = "check-out";
    }
    o.screen_on_s.clear();
    if (c.screen_on_min > 0) o.screen_on_s.push_back({0, c.screen_on_min * 60});
    if (c.model.empty()) return;
    // The model file gives the phone; an option given beside it still wins.
    const PhoneParams options = o.phone;
    std::string error;
    if (!read_model(c.model, &o.phone, &error)) {
        fprintf(stderr, "velmora-sim: %s\n", error.c_str());
        exit(1);
    }
    if (c.ambient_given) o.phone.ambient_C = options.ambient_C;
    if (given("--screen-load")) o.phone.screen_load_W = options.screen_load_W;
}

Command parse(int argc, char **argv) {
    Command c;
    CLI::App app{
        "Charges a modelled phone twice, under the real velmora and with no regulator, and "
        "compares them.",
        "velmora-sim"};
    app.option_defaults()->always_capture_default();
    app.fallthrough();
    const Subcommands sub = add_subcommands(app, c);
    add_charge_options(app, c);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        exit(app.exit(error));
    }
    c.what = sub.fit->parsed()      ? Command::kFit
             : sub.replay->parsed() ? Command::kReplay
             : sub.check->parsed()  ? Command::kCheck
             : sub.sweep->parsed()  ? Command::kSweep
             : sub.series->parsed() ? Command::kSeries
             : sub.tree->parsed()   ? Command::kTree
             : sub.tune->parsed()   ? Command::kTune
                                    : Command::kDemo;
    apply_defaults(app, c);
    return c;
}

void print_summary(const Run &a, const Run &b, double capacity_Ah) {
    print_row("", a.name, b.name);
    print_row("minutes to 80 %", fixed(a.to_s(80) / 60), fixed(b.to_s(80) / 60));
    print_row("minutes to full", fixed(a.to_full_s / 60), fixed(b.to_full_s / 60));
    print_row("peak battery temperature, °C", fixed(a.peak_C), fixed(b.peak_C));
    print_row("minutes above target + 1 °C", fixed(a.above_s / 60), fixed(b.above_s / 60));
    // Never reached: 0 / 0, shown as "-".
    print_row("mean |battery - target| once reached, °C", fixed(a.deviation_sum / a.deviation_s),
              fixed(b.deviation_sum / b.deviation_s));
    print_row("limit writes", std::to_string(a.writes), std::to_string(b.writes));
    const double wear_a = wear_permille(a.wear, capacity_Ah);
    const double wear_b = wear_permille(b.wear, capacity_Ah);
    const double coolest = a.peak_C <= b.peak_C ? wear_a : wear_b;
    print_row("wear, ‰ of capacity (× the cooler's)", wear_text(wear_a, coolest),
              wear_text(wear_b, coolest));
}

void write_csv(const std::string &path, time_t start, const std::vector<const Run *> &runs) {
    FILE *csv = fopen(path.c_str(), "w");
    if (csv == nullptr) die("cannot write " + path);
    fprintf(csv, "%s\n", kPlotColumns);
    for (const Run *run : runs) {
        for (const Sample &x : run->samples) {
            fprintf(csv, "%s,%s,%.2f,%.2f,%.1f,%.0f,%.0f,%.1f\n", run->name,
                    clock_at(start, x.t_s).c_str(), x.phone.battery_C, x.phone.board_C, x.target_C,
                    x.limit_A * 1000, x.phone.current_A * 1000, x.phone.soc * 100);
        }
    }
    fclose(csv);
}

Log read_or_die(const std::string &path) {
    Log log;
    std::string error;
    if (!read_log(path, &log, &error)) {
        fprintf(stderr, "velmora-sim: %s\n", error.c_str());
        exit(1);
    }
    if (log.lines.empty()) {
        fprintf(stderr, "velmora-sim: %s is not velmora's log: none of its %d lines is one\n",
                path.c_str(), log.skipped);
        exit(1);
    }
    if (log.skipped > 0)
        fprintf(stderr, "velmora-sim: skipped %d lines that are not velmora's\n", log.skipped);
    return log;
}

int run_fit(const Command &c) {
    const Log log = read_or_die(c.log);
    if (log.charging_s < kMinCharging_s) {
        fprintf(stderr, "velmora-sim: %s holds %.1f minutes of charging; a fit needs %.0f\n",
                c.log.c_str(), log.charging_s / 60, kMinCharging_s / 60);
        return 1;
    }
    const auto began = std::chrono::steady_clock::now();
    const Fit f = fit(log, c.o.phone, c.ambient_given);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
    std::cout << model_json(f, log).dump(2) << "\n";
    for (size_t i = 0; i < kModelParameters.size(); ++i) {
        const ModelParameter &m = kModelParameters[i];
        if (f.at_bound[i])
            fprintf(stderr,
                    "velmora-sim: %s stopped at the edge of its range (%g to %g %s): the log does "
                    "not pin it down\n",
                    m.name, m.low, m.high, m.unit);
    }
    if (f.taper_lines < kMinTaperLines)
        fprintf(stderr,
                "velmora-sim: the log holds %d lines of the charger's taper, too few to fit the "
                "cell's resistance and the charge voltage: they keep their start values\n",
                f.taper_lines);
    if (!f.converged)
        fprintf(stderr, "velmora-sim: the fit stopped after %d runs of the model, unsettled\n",
                f.evaluations);
    fprintf(stderr,
            "velmora-sim: fitted to %.0f minutes of charging in %.1f s (%d runs of the model); "
            "battery RMS %.2f K\n",
            log.charging_s / 60, took.count(), f.evaluations, f.rms_K);
    return 0;
}

int run_replay(const Command &c) {
    const Log log = read_or_die(c.log);
    const Prediction predicted = replay(log, c.o.phone);
    printf("unix_time,measured_C,predicted_C\n");
    size_t k = 0;
    for (const LogLine &x : log.lines) {
        if (x.charging)
            printf("%lld,%.1f,%.2f\n", static_cast<long long>(x.t), x.battery_C,
                   predicted.battery_C[k++]);
    }
    printf("rms_K=%.2f\n", rms_K(log, predicted.battery_C, false));
    return 0;
}

// The plots' CSV (tools/plot.gp) of each of velmora's lines, with the status
// last; the lines that are not velmora's are counted on the error stream.
int run_series(const Command &c) {
    std::ifstream in(c.log, std::ios::binary);
    if (!in) die("cannot read " + c.log);
    printf("%s,status\n", kPlotColumns);
    int skipped = 0;
    LogFields f;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!parse_log_line(line, &f)) {
            ++skipped;
            continue;
        }
        printf("phone,%s,%.1f,%.3f,%.3f,%d,%d,%d,%s\n", f.stamp.c_str(), f.battery_dC / 10.0,
               f.board_mC / 1000.0, f.target_mC / 1000.0, f.limit_mA, f.current_mA, f.level_pct,
               f.status.c_str());
    }
    fprintf(stderr, "velmora-sim: skipped %d lines that are not velmora's\n", skipped);
    return 0;
}

int run_tree(const Command &c) {
    fs::create_directories(c.root);
    NodeTexts shown;
    lay_out_phone(c.o, c.root, &shown);
    return 0;
}

int run_sweep(const Command &c, time_t start) {
    fs::create_directories(c.o.out);
    if (c.o.in_process)
        fprintf(stderr, "charging under velmora's cycle for %zu settings, in this process ...\n",
                c.off_temps_mC.size() * c.powers.size());
    else
        fprintf(stderr, "charging under velmora for %zu settings, %u at a time, at %gx speed ...\n",
                c.off_temps_mC.size() * c.powers.size(), c.jobs, c.o.speed);
    const std::vector<SweepPoint> points = sweep(c.o, start, c.off_temps_mC, c.powers, c.jobs);
    report_sweep(points, fastest_under(points, c.max_peak_C), c.max_peak_C, c.o.phone.capacity_Ah,
                 c.o.out);
    return 0;
}

int run_demo(const Options &o, time_t start) {
    fs::create_directories(o.out);
    if (o.in_process)
        fprintf(stderr, "charging under velmora's cycle, in this process ...\n");
    else
        fprintf(stderr, "charging under velmora at %gx speed ...\n", o.speed);
    std::string root;
    const Run regulated = charge_regulated(o, start, &root);
    const Run unregulated = charge_unregulated(o, start);
    print_summary(regulated, unregulated, o.phone.capacity_Ah);
    write_csv(o.out + "/charge.csv", start, {&regulated, &unregulated});
    keep_log(root, o.out);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    const Command c = parse(argc, argv);
    int64_t start = 0;
    parse_stamp(c.o.start, &start);  // checked with the options
    switch (c.what) {
        case Command::kFit:
            return run_fit(c);
        case Command::kReplay:
            return run_replay(c);
        case Command::kCheck:
            return print_check(check_twin(read_or_die(c.log), c.o));
        case Command::kSweep:
            return run_sweep(c, start);
        case Command::kSeries:
            return run_series(c);
        case Command::kTree:
            return run_tree(c);
        case Command::kTune:
            return c.tune.summary ? tune_summary(c.tune) : tune(c.tune, c.o);
        case Command::kDemo:
            break;
    }
    return run_demo(c.o, start);
}
