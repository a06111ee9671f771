// A grid of settings charged under velmora, several at a time, and its table and plot.
#include "sweep.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "files.h"
#include "print.h"

namespace {

// Time to 80 % against peak, each point labelled with its settings, the
// chosen one ringed and the peak the user allows drawn across; the legend
// below the axes, clear of the points.
constexpr const char *kPlot = R"(
set terminal pngcairo size 900,650 font ",10"
set output dir."/sweep.png"
set datafile separator ","
set title "each point: one charge under velmora, labelled screen-off target / power"
set xlabel "minutes to 80 %"
set ylabel "peak battery temperature, °C"
set grid
set key below
set offsets graph 0.08, graph 0.08, graph 0.08, graph 0.08
if (max_peak == max_peak) {
  set arrow from graph 0, first max_peak to graph 1, first max_peak nohead dt 2 lc rgb "red"
}
csv = dir."/sweep.csv"
plot csv skip 1 using 3:4 with points pt 7 ps 1.5 lc rgb "#1f77b4" notitle, \
     csv skip 1 using 3:4:(sprintf("%g °C / %d", $1, $2)) with labels left offset 1.2,0 notitle, \
     csv skip 1 using 3:($6 == 1 ? $4 : NaN) with points pt 6 ps 3.5 lw 2 lc rgb "red" \
       title (max_peak == max_peak ? sprintf("fastest under %g °C", max_peak) : "")
)";

}  // namespace

std::vector<SweepPoint> sweep(const Options &base, time_t start,
                              const std::vector<int> &off_temps_mC, const std::vector<int> &powers,
                              unsigned jobs) {
    std::vector<SweepPoint> points;
    for (int off : off_temps_mC) {
        for (int power : powers) points.push_back({off, power, {}});
    }
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next++) < points.size();) {
            SweepPoint &x = points[i];
            Options o = base;
            o.off_temp_mC = x.off_temp_mC;
            o.power = x.power;
            o.out = base.out + "/off" + std::to_string(x.off_temp_mC) + "-power" +
                    std::to_string(x.power);
            std::filesystem::create_directories(o.out);
            std::string root;
            x.run = charge_regulated(o, start, &root);
            std::error_code ignored;
            std::filesystem::remove_all(root, ignored);
        }
    };
    std::vector<std::thread> threads;
    if (base.in_process) jobs = 1;  // velmora's one state and the working directory
    for (unsigned j = 0; j < jobs; ++j) threads.emplace_back(work);
    for (std::thread &t : threads) t.join();
    return points;
}

int fastest_under(const std::vector<SweepPoint> &points, double max_peak_C) {
    int best = -1;
    for (size_t i = 0; i < points.size(); ++i) {
        const Run &r = points[i].run;
        if (std::isnan(r.to_s(80)) || !(r.peak_C <= max_peak_C)) continue;  // no --max-peak: none
        if (best < 0 || r.to_s(80) < points[best].run.to_s(80)) best = static_cast<int>(i);
    }
    return best;
}

void print_sweep_table(const std::vector<SweepPoint> &points, int chosen, int now,
                       double capacity_Ah) {
    const auto coolest = std::min_element(
        points.begin(), points.end(),
        [](const SweepPoint &a, const SweepPoint &b) { return a.run.peak_C < b.run.peak_C; });
    const double coolest_wear = wear_permille(coolest->run.wear, capacity_Ah);
    printf(
        "screen-off target °C  power  minutes to 80 %%  peak battery °C  minutes above target + 1 "
        "°C  wear\n");
    for (size_t i = 0; i < points.size(); ++i) {
        const SweepPoint &x = points[i];
        const Run &r = x.run;
        printf("%20.1f %6d %16s %16.1f %28.1f  %s%s%s\n", x.off_temp_mC / 1000.0, x.power,
               fixed(r.to_s(80) / 60).c_str(), r.peak_C, r.above_s / 60,
               wear_text(wear_permille(r.wear, capacity_Ah), coolest_wear).c_str(),
               static_cast<int>(i) == chosen ? "  <" : "",
               static_cast<int>(i) == now ? "  today" : "");
    }
}

void report_sweep(const std::vector<SweepPoint> &points, int chosen, double max_peak_C,
                  double capacity_Ah, const std::string &dir) {
    print_sweep_table(points, chosen, -1, capacity_Ah);
    const std::string csv_path = dir + "/sweep.csv";
    std::string csv = "off_temp_C,power,to_80_min,peak_C,above_min,chosen,wear_permille\n";
    for (size_t i = 0; i < points.size(); ++i) {
        const SweepPoint &x = points[i];
        const Run &r = x.run;
        char row[160];
        snprintf(row, sizeof row, "%g,%d,%s,%.2f,%.2f,%d,%.4f\n", x.off_temp_mC / 1000.0, x.power,
                 std::isnan(r.to_s(80)) ? "NaN" : fixed(r.to_s(80) / 60).c_str(), r.peak_C,
                 r.above_s / 60, static_cast<int>(i) == chosen, wear_permille(r.wear, capacity_Ah));
        csv += row;
    }
    if (!write_atomically(csv_path.c_str(), csv, false)) die("cannot write " + csv_path);
    if (std::isnan(max_peak_C)) {
        printf("(--max-peak C marks the fastest setting that stays under a peak)\n");
    } else if (chosen < 0) {
        printf("no setting reaches 80 %% with its peak under %.1f °C\n", max_peak_C);
    } else {
        const SweepPoint &x = points[chosen];
        printf("< the fastest under %.1f °C: 息屏温度=%d, 功率=%d, %.1f minutes to 80 %%\n",
               max_peak_C, x.off_temp_mC, x.power, x.run.to_s(80) / 60);
    }
    if (std::none_of(points.begin(), points.end(),
                     [](const SweepPoint &x) { return !std::isnan(x.run.to_s(80)); })) {
        printf("no setting reached 80 %%: nothing to plot\n");
        return;
    }
    // The plot's script beside its data, so that the plot can be redone by hand.
    const std::string script_path = dir + "/sweep.gp";
    FILE *script = fopen(script_path.c_str(), "w");
    if (script == nullptr) die("cannot write " + script_path);
    std::string quoted_dir;  // inside gnuplot's single quotes a quote is doubled
    for (char c : dir) quoted_dir += c == '\'' ? "''" : std::string(1, c);
    fprintf(script, "dir = '%s'\nmax_peak = %s\n%s", quoted_dir.c_str(),
            std::isnan(max_peak_C) ? "NaN" : fixed(max_peak_C).c_str(), kPlot);
    fclose(script);
    // No shell in between: --out may hold any character.
    char *const argv[] = {const_cast<char *>("gnuplot"), const_cast<char *>(script_path.c_str()),
                          nullptr};
    pid_t pid;
    int status = -1;
    if (posix_spawnp(&pid, "gnuplot", nullptr, nullptr, argv, environ) != 0 ||
        waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "velmora-sim: gnuplot failed; the table is in %s\n", csv_path.c_str());
        return;
    }
    printf("plot: %s/sweep.png\n", dir.c_str());
}
