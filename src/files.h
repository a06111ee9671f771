// Whole files: bounded reads, and the one way every program but velmora
// writes a file velmora reads (配置 from velmoractl, the simulator's and the
// tests' nodes): a temporary sibling replaces it whole, so that velmora,
// which re-reads it every cycle, never sees a part. velmora's own reads are
// in scan.h.
#pragma once

#include <cstddef>
#include <string>

// The file's first max_bytes bytes at most; false (errno set) when it cannot be read.
bool read_head(const char *path, size_t max_bytes, std::string *bytes);

// The file's last max_bytes bytes at most, whole lines only; "" for a missing
// or empty file.
std::string read_tail(const char *path, size_t max_bytes);
// The last line of such a tail, without its line feed.
std::string last_line(const std::string &tail);

// path's temporary sibling: path + ".new".
std::string temp_of(const char *path);
// Writes data whole to that sibling and, when durable, syncs it.
bool write_temp(const char *path, const std::string &data, bool durable = true);
// Renames the temporary sibling over path and, when durable, syncs the
// directory; the sibling is removed when that fails.
bool commit_temp(const char *path, bool durable = true);
// Both: path holds either its old content or data, never a part. Durable
// for the user's files, which must survive a crash; not for the
// simulator's nodes, rewritten hundreds of times a second.
bool write_atomically(const char *path, const std::string &data, bool durable = true);
// Removes the temporary sibling, keeping errno.
void drop_temp(const char *path);
