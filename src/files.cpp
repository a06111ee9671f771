// Bounded reads and whole-file replacement.
#include "files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr mode_t kNewFileMode = 0644;
// A sweep takes a new temporary before its writer's lock once in a blue moon;
// a hundred times in a row means something else removes them.
constexpr int kCreateTries = 100;
// The characters mkostemp puts in place of the X's.
constexpr char kTempAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// read() or pread() until count bytes or the end; false on an error.
bool read_all(int fd, char *out, size_t count, off_t at, size_t *got) {
    *got = 0;
    while (*got < count) {
        const ssize_t n = at < 0
                              ? read(fd, out + *got, count - *got)
                              : pread(fd, out + *got, count - *got, at + static_cast<off_t>(*got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        *got += static_cast<size_t>(n);
    }
    return true;
}

// mkostemp's pattern after the file's name.
constexpr char kTempSuffix[] = ".XXXXXX";

std::string directory_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The same file: a name may have been removed and taken again meanwhile.
bool same_file(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Creates temp's file exclusively and locks it. A sweep may lock and remove a
// file in the instant between the two, so the name is checked to still be
// ours once locked, and else a new one is made.
bool create_locked(TempFile *temp) {
    const std::string pattern = temp->name;
    for (int tries = 0; tries < kCreateTries; ++tries) {
        temp->name = pattern;
        temp->fd = mkostemp(temp->name.data(), O_CLOEXEC);
        if (temp->fd < 0) return false;
        struct stat ours, named;
        if (flock(temp->fd, LOCK_EX) != 0 || fstat(temp->fd, &ours) != 0) {
            drop_temp(*temp);
            return false;
        }
        if (lstat(temp->name.c_str(), &named) == 0 && same_file(ours, named)) return true;
        close(temp->fd);
    }
    temp->fd = -1;
    errno = EAGAIN;
    return false;
}

// Removes path's temporaries whose writers have ended: those whose lock can
// be taken. Only names of mkostemp's pattern, and only regular files.
void sweep_temps(const char *path) {
    const std::string dir = directory_of(path),
                      prefix = std::string(path).substr(dir.size() + 1) + ".", folder = dir + "/";
    DIR *entries = opendir(dir.c_str());
    if (entries == nullptr) return;
    for (const dirent *entry = readdir(entries); entry != nullptr; entry = readdir(entries)) {
        const std::string name = entry->d_name;
        if (name.size() != prefix.size() + sizeof kTempSuffix - 2 || name.rfind(prefix, 0) != 0 ||
            name.find_first_not_of(kTempAlphabet, prefix.size()) != std::string::npos) {
            continue;
        }
        const std::string file = folder + name;
        const int fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat locked, named;
        if (fd >= 0 && fstat(fd, &locked) == 0 && S_ISREG(locked.st_mode) &&
            flock(fd, LOCK_EX | LOCK_NB) == 0 && lstat(file.c_str(), &named) == 0 &&
            same_file(locked, named)) {
            (void)unlink(file.c_str());
        }
        if (fd >= 0) close(fd);
    }
    closedir(entries);
}

}  // namespace

std::string not_regular(const char *path) {
    struct stat st;
    if (lstat(path, &st) != 0) return errno == ENOENT ? "" : strerror(errno);
    return S_ISREG(st.st_mode)    ? ""
           : S_ISLNK(st.st_mode)  ? "a symbolic link"
           : S_ISDIR(st.st_mode)  ? "a directory"
           : S_ISFIFO(st.st_mode) ? "a FIFO"
                                  : "a special file";
}

int open_regular(const char *path, int flags, std::string *why) {
    const int fd = open(path, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kNewFileMode);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return fd;
    const int error = fd < 0 ? errno : EINVAL;
    *why = fd < 0 && error != ELOOP ? strerror(error) : not_regular(path);
    if (why->empty()) *why = "changed while opened";
    if (fd >= 0) close(fd);
    errno = error;
    return -1;
}

bool read_head(const char *path, size_t max_bytes, std::string *bytes, bool follow) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | (follow ? 0 : O_NOFOLLOW));
    struct stat st;
    if (fd < 0) return false;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EINVAL;
        return false;
    }
    // Grown as the file fills it: a generous bound (16 MiB for the packed
    // tzdata) costs no memory a small file does not use.
    bytes->clear();
    size_t got = 0;
    bool ok = true;
    while (ok && got == bytes->size() && got < max_bytes) {
        bytes->resize(std::min(max_bytes, std::max<size_t>(4096, 2 * got)));
        size_t n = 0;
        ok = read_all(fd, bytes->data() + got, bytes->size() - got, -1, &n);
        got += n;
    }
    const int saved = errno;
    close(fd);
    bytes->resize(got);
    errno = saved;
    return ok;
}

std::string read_tail(const char *path, size_t max_bytes) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return "";
    struct stat st;
    std::string tail;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const off_t at = st.st_size > static_cast<off_t>(max_bytes)
                             ? st.st_size - static_cast<off_t>(max_bytes)
                             : 0;
        tail.resize(static_cast<size_t>(st.st_size - at));
        size_t got = 0;
        if (!read_all(fd, tail.data(), tail.size(), at, &got)) got = 0;
        tail.resize(got);
        // A line cut by the bound is no line.
        const size_t cut = tail.find('\n');
        if (at > 0) tail.erase(0, cut == std::string::npos ? cut : cut + 1);
    }
    close(fd);
    return tail;
}

std::string last_line(const std::string &tail) {
    const size_t end = !tail.empty() && tail.back() == '\n' ? tail.size() - 1 : tail.size();
    const size_t start = tail.rfind('\n', end == 0 ? 0 : end - 1);
    const size_t from = start == std::string::npos || start >= end ? 0 : start + 1;
    return tail.substr(from, end - from);
}

TempFile write_temp(const char *path, const std::string &data, bool durable) {
    if (durable) sweep_temps(path);
    TempFile temp{std::string(path) + kTempSuffix, -1};
    if (!create_locked(&temp)) return TempFile{};
    bool ok = fchmod(temp.fd, kNewFileMode) == 0;
    size_t done = 0;
    while (ok && done < data.size()) {
        const ssize_t n = write(temp.fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    if (ok && done == data.size() && (!durable || fsync(temp.fd) == 0)) return temp;
    drop_temp(temp);
    return TempFile{};
}

bool commit_temp(TempFile &temp, const char *path, bool durable) {
    if (rename(temp.name.c_str(), path) != 0) {
        drop_temp(temp);
        return false;
    }
    close(temp.fd);  // its lock with it, once the name is gone
    temp = TempFile{};
    if (!durable) return true;
    // The rename itself reaches the disk with the directory's sync.
    const int fd = open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    const int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

bool write_atomically(const char *path, const std::string &data, bool durable) {
    TempFile temp = write_temp(path, data, durable);
    return !temp.name.empty() && commit_temp(temp, path, durable);
}

void drop_temp(TempFile &temp) {
    const int saved = errno;
    if (!temp.name.empty()) (void)unlink(temp.name.c_str());
    if (temp.fd >= 0) close(temp.fd);
    temp = TempFile{};
    errno = saved;
}
