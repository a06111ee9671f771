// Bounded reads and whole-file replacement.
#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

constexpr mode_t kNewFileMode = 0644;

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

}  // namespace

bool read_head(const char *path, size_t max_bytes, std::string *bytes) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
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
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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

std::string write_temp(const char *path, const std::string &data, bool durable) {
    std::string temp = std::string(path) + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return "";
    bool ok = fchmod(fd, kNewFileMode) == 0;
    size_t done = 0;
    while (ok && done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ok = ok && done == data.size() && (!durable || fsync(fd) == 0);
    const int saved = errno;
    close(fd);
    errno = saved;
    if (ok) return temp;
    drop_temp(temp);
    return "";
}

bool commit_temp(const std::string &temp, const char *path, bool durable) {
    if (rename(temp.c_str(), path) != 0) {
        drop_temp(temp);
        return false;
    }
    if (!durable) return true;
    // The rename itself reaches the disk with the directory's sync.
    const std::string name(path);
    const size_t slash = name.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : name.substr(0, slash);
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    const int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

bool write_atomically(const char *path, const std::string &data, bool durable) {
    const std::string temp = write_temp(path, data, durable);
    return !temp.empty() && commit_temp(temp, path, durable);
}

void drop_temp(const std::string &temp) {
    const int saved = errno;
    (void)unlink(temp.c_str());
    errno = saved;
}
