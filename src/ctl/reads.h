// velmoractl's reads of the phone's nodes and the module's small files: by
// velmora's own scanner rules where velmora reads the same node, bounded,
// never waiting on a FIFO, and without velmora's reports.
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

// A small file's text without its trailing line feeds and spaces; "" when
// it cannot be read.
std::string file_text(const char *path);
