// Bounded reads and atomic writes of the module directory's files, for
// velmoractl; the daemon's own reads are in scan.h.
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
// Writes data whole to that sibling and syncs it.
bool write_temp(const char *path, const std::string &data);
// Renames the temporary sibling over path and syncs the directory; the
// sibling is removed when that fails.
bool commit_temp(const char *path);
// Both: path holds either its old content or data, never a part.
bool write_atomically(const char *path, const std::string &data);
// Removes the temporary sibling, keeping errno.
void drop_temp(const char *path);
