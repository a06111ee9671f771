// Fuzz targets run in a fresh temporary directory, where the host build's
// paths lead, and write each input where the reader under test looks.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

inline void enter_temp_tree() {
    // Memory-backed where the machine has it: every input is a file write and reads.
    static char shm[] = "/dev/shm/velmora-fuzz-XXXXXX";
    static char tmp[] = "/tmp/velmora-fuzz-XXXXXX";
    static char *dir = access("/dev/shm", W_OK) == 0 ? shm : tmp;
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) abort();
    atexit([] { std::filesystem::remove_all(dir); });
}

// Creates the directories above path and writes data there whole.
inline void put_file(const char *path, const uint8_t *data, size_t size) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent);
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size)) abort();
    close(fd);
}
