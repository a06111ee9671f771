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

// Writes data whole to a new temporary sibling of path (path + ".XXXXXX"),
// created exclusively, so never through a planted link nor shared with another
// writer, with mode 0644, and synced when durable. Its name, or "" (errno set,
// nothing left behind) when that fails.
std::string write_temp(const char *path, const std::string &data, bool durable = true);
// Renames temp over path and, when durable, syncs the directory; temp is
// removed when the rename fails. False (errno set) when either fails.
bool commit_temp(const std::string &temp, const char *path, bool durable = true);
// Both: path holds either its old content or data, never a part. Durable
// for the user's files, which must survive a crash; not for the
// simulator's nodes, rewritten hundreds of times a second.
bool write_atomically(const char *path, const std::string &data, bool durable = true);
// Removes a temporary file, keeping errno.
void drop_temp(const std::string &temp);
