// velmoractl's reads of the phone's nodes, the module's small files and the
// processes: by velmora's own scanner rules where velmora reads the same
// node, bounded, never waiting on a FIFO, and without velmora's reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A node, and the last line of velmora.err or PID_log, read at most this far.
constexpr size_t kMaxRead_bytes = 4096;

// A node's integer by velmora's rules; false when it has none (or is no
// regular file of a page at most, as every sysfs node is).
bool node_int(const char *path, int32_t *value);
// A node's first word by velmora's rules, or "none".
std::string node_word(const char *path);

// Whether the process pid runs the program name: the last part of its
// command line's first word.
bool runs_program(const std::string &pid, const char *name);
// The process the pid file names, when it runs velmora; "" otherwise.
std::string pid_file_velmora();
// The module's running velmora: the process the pid file names when it runs
// velmora, else any that runs velmora under velmoractl's own root (its pid
// file gone, or naming another process); "" when none runs.
std::string running_velmora();

// A small file's text without its trailing line feeds and spaces; "" when
// it cannot be read.
std::string file_text(const char *path);
