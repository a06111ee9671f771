// Whole files: bounded reads, and the one way every program but velmora
// writes a file velmora reads (配置 from velmoractl, the simulator's and the
// tests' nodes): a temporary sibling replaces it whole, so that velmora,
// which re-reads it every cycle, never sees a part. velmora's own reads are
// in scan.h.
#pragma once

#include <cstddef>
#include <string>

// What keeps path from being read or written as a regular file of the
// module's own: "a symbolic link", "a directory", "a FIFO", "a special
// file", or "" when it is a regular file or missing.
std::string not_regular(const char *path);
// Opens one of the module's own files as a regular file only: never through
// a symbolic link, never waiting on a FIFO. -1 (errno set) when it cannot,
// with *why saying so (not_regular's words, or the system's).
int open_regular(const char *path, int flags, std::string *why);

// The regular file's first max_bytes bytes at most; false (errno set) when it
// cannot be read. A symbolic link is followed only when follow.
bool read_head(const char *path, size_t max_bytes, std::string *bytes, bool follow = false);

// The regular file's last max_bytes bytes at most, whole lines only; "" for a
// missing or empty file, a symbolic link or another kind of file.
std::string read_tail(const char *path, size_t max_bytes);
// The last line of such a tail, without its line feed.
std::string last_line(const std::string &tail);

// A temporary sibling being written: its name ("" when none) and its open
// descriptor, whose flock says that its writer still lives. A writer killed
// before its rename leaves it unlocked, and the next durable write of the
// same file removes it.
struct TempFile {
    std::string name;
    int fd = -1;
};
// Writes data whole to a new temporary sibling of path (path + ".XXXXXX"),
// created exclusively, so never through a planted link nor shared with another
// writer, with mode 0644, and synced when durable; a durable write first
// removes the unlocked temporaries of path that killed writers left. The
// temporary, or one with no name (errno set, nothing left behind).
TempFile write_temp(const char *path, const std::string &data, bool durable = true);
// Renames temp over path and, when durable, syncs the directory; temp is
// removed when the rename fails, and closed. False (errno set) when either fails.
bool commit_temp(TempFile &temp, const char *path, bool durable = true);
// Both: path holds either its old content or data, never a part. Durable
// for the user's files, which must survive a crash; not for the
// simulator's nodes, rewritten hundreds of times a second.
bool write_atomically(const char *path, const std::string &data, bool durable = true);
// Removes and closes a temporary file, keeping errno.
void drop_temp(TempFile &temp);
