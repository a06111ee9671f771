// Bounded reads of nodes and small files for velmoractl's commands.
#include "reads.h"

#include <sys/stat.h>

#include "files.h"
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

}  // namespace

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
