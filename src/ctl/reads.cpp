// Bounded reads of nodes, small files and processes for velmoractl's commands.
#include "reads.h"

#include <dirent.h>
#include <sys/stat.h>

#include "decimal.h"
#include "files.h"
#include "module_files.h"
#include "nodes.h"
#include "scan.h"

namespace {

// Opens a node for velmora's scanner: a regular file of one page at most, so
// that a read stays bounded; looked at before opening, which would wait on a FIFO.
bool open_node(ScanInput &in, const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode) &&
           st.st_size <= static_cast<off_t>(kMaxRead_bytes) && scan_open(in, path);
}

// A pid: digits, as the kernel names /proc's entries and start.sh writes the pid file.
bool is_pid(const std::string &text) {
    int64_t pid = 0;
    return parse_decimal(text, 1, INT32_MAX, &pid);
}

// Whether the process's root directory is velmoractl's own: a velmora in
// another chroot is another phone tree's. One that cannot be looked at counts.
bool shares_root(const std::string &pid) {
    struct stat theirs, ours;
    const std::string root = std::string(kProcDir) + "/" + pid + "/root/";
    return stat(root.c_str(), &theirs) != 0 || stat("/", &ours) != 0 ||
           (theirs.st_dev == ours.st_dev && theirs.st_ino == ours.st_ino);
}

}  // namespace

bool runs_program(const std::string &pid, const char *name) {
    std::string cmdline;
    const std::string path = std::string(kProcDir) + "/" + pid + "/cmdline";
    if (!read_head(path.c_str(), kMaxRead_bytes, &cmdline)) return false;
    const std::string program = cmdline.substr(0, cmdline.find('\0'));
    const size_t slash = program.rfind('/');
    return program.substr(slash == std::string::npos ? 0 : slash + 1) == name;
}

bool node_int(const char *path, int32_t *value) {
    ScanInput in;
    if (!open_node(in, path)) return false;
    const bool found = scan_int(in, value);
    scan_close(in);
    return found;
}

std::string node_word(const char *path) {
    ScanInput in;
    char word[sizeof read_date_char];
    if (!open_node(in, path)) return "none";
    const bool found = scan_word(in, word, sizeof word);
    scan_close(in);
    return found ? word : "none";
}

std::string file_text(const char *path) {
    std::string text;
    if (!read_head(path, kMaxRead_bytes, &text)) return "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string pid_file_velmora() {
    const std::string named = file_text(kPidFile);
    return is_pid(named) && runs_program(named, "velmora") ? named : "";
}

std::string running_velmora() {
    std::string named = pid_file_velmora();
    if (!named.empty()) return named;
    DIR *processes = opendir(kProcDir);
    std::string found;
    for (const dirent *entry = processes != nullptr ? readdir(processes) : nullptr;
         entry != nullptr && found.empty(); entry = readdir(processes)) {
        const std::string pid = entry->d_name;
        if (is_pid(pid) && runs_program(pid, "velmora") && shares_root(pid)) found = pid;
    }
    if (processes != nullptr) closedir(processes);
    return found;
}
