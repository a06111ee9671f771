// What velmora-sim prints: its tables' rows and numbers, clocks and the
// error it ends with.
#pragma once

#include <ctime>
#include <string>

// Reports what failed with errno's text and ends the program with status 1.
[[noreturn]] void die(const std::string &what);

// "YYYY-MM-DD hh:mm:ss" of t_s seconds after start, UTC.
std::string clock_at(time_t start, double t_s);

// v with one decimal, or "-" when NaN (a mark the charge never reached).
std::string fixed(double v);

// One row of a two-column table: what, then x and y, each padded.
void print_row(const char *what, const std::string &x, const std::string &y);

// The wear column: ‰ of capacity, and times that of the coolest charge.
std::string wear_text(double permille, double coolest_permille);
