// Reads velmora's PID_log, as pulled from a phone, into what the model needs
// and the settings it charged under.
#pragma once

#include <cstdint>
#include <ctime>
#include <istream>
#include <limits>
#include <string>
#include <vector>

// A longer gap between charging lines is no charging.
constexpr double kCycleCap_s = 60;

struct LogLine {
    time_t t;  // the cycle's start, local time read as if UTC
    bool charging;
    bool screen_on;    // the screen-on target was chosen (charging lines)
    double battery_C;  // fresh on charging lines only; an idle line repeats them
    double board_C;
    double current_A;  // into the cell, negative while the phone runs from it
    double level_pct;
    double limit_A;  // the last charging cycle's limit, read back from the node
    // The settings velmora charged under (targets in m°C).
    int32_t power, night, morning, on_temp_mC, off_temp_mC;  // night, morning: hours
};

struct Log {
    std::vector<LogLine> lines;  // velmora's lines, in the file's order
    int skipped = 0;             // lines that are not velmora's
    bool board_sensor = false;   // some charging line has a board reading
    int charging_lines = 0;      // lines with the status "Charging"
    int screen_on_lines = 0;     // charging lines with the screen-on target
    double charging_s = 0;       // time covered by charging cycles
};

// The state of charge (0..1) a line's level stands for: the level is whole
// percent, rounded down, so the middle of its percent.
inline double soc_of(const LogLine &x) {
    return (x.level_pct + 0.5) / 100;
}

// Whether line i charges on from the line before it: both charging, at most
// a cycle apart. A run of such lines is one charge.
inline bool continues_charge(const Log &log, size_t i) {
    return i > 0 && i < log.lines.size() && log.lines[i].charging && log.lines[i - 1].charging &&
           log.lines[i].t - log.lines[i - 1].t <= kCycleCap_s;
}

// Reads the log at path. False, with *error set, when it cannot be read.
bool read_log(const std::string &path, Log *log, std::string *error);

// Adds the log's lines from in to *log, velmora's from those stamped since on
// (local time read as UTC); the lines that are not velmora's are counted.
void read_log_lines(std::istream &in, Log *log, time_t since = std::numeric_limits<time_t>::min());

// The stamp of a log line when it is velmora's (CRLF or not), else false.
bool line_stamp(std::string line, time_t *t);
