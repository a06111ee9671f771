// What velmora-sim prints: its tables' rows and numbers, clocks and the
// error it ends with.
#include "print.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// text padded with spaces to width characters (not bytes: "°" takes two
// bytes but one column), on the right when left.
std::string padded(const std::string &text, int width, bool left) {
    int columns = 0;
    for (char c : text) columns += (c & 0xC0) != 0x80;
    const std::string pad(std::max(0, width - columns), ' ');
    return left ? text + pad : pad + text;
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

void print_row(const char *what, const std::string &x, const std::string &y) {
    printf("%s %s %s\n", padded(what, 42, true).c_str(), padded(x, 12, false).c_str(),
           padded(y, 12, false).c_str());
}

std::string wear_text(double permille, double coolest_permille) {
    char text[48];
    snprintf(text, sizeof text, "%.3f‰ ×%.2f", permille, permille / coolest_permille);
    return text;
}
