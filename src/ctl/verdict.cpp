// The settings file as velmora reads it, with where its reader stops and
// why: the verdict behind check, settings, save and status.
#include "verdict.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "messages.h"
#include "scan.h"
#include "settings.h"

namespace {

// The scanner's offset in its file: the bytes read minus those still in hand.
int64_t offset_of(const ScanInput &in) {
    return lseek(in.fd, 0, SEEK_CUR) - static_cast<int64_t>(in.len - in.pos);
}

void seek(ScanInput &in, int64_t at) {
    (void)lseek(in.fd, at, SEEK_SET);
    in.pos = in.len = 0;
    in.at_end = false;
}

// Why the reader stopped at entry i: with its key read, a number entry stops
// after the key, whitespace and a sign; entries 1 to 6 follow a number, so
// the bytes before the stop end so only when the key was read.
std::string reason(const std::string &content, int64_t stop, int i, int error) {
    const SettingsEntry &e = kSettingsEntries[i];
    if (stop >= static_cast<int64_t>(content.size())) return "the file ends";
    if (e.number == nullptr) return "not the key";
    if (error == ERANGE) return "number out of range";
    size_t at = static_cast<size_t>(stop);
    if (at > 0 && (content[at - 1] == '+' || content[at - 1] == '-')) --at;
    while (at > 0 && isspace(static_cast<unsigned char>(content[at - 1])) != 0) --at;
    const size_t key = strlen(e.key);
    return at >= key && content.compare(at - key, key, e.key) == 0 ? "no number" : "not the key";
}

// A token's one shape: the bytes' length, a dash, their hash in 16 hex digits.
std::string token_text(size_t length, unsigned long long hash) {
    char token[48];
    (void)snprintf(token, sizeof token, "%zu-%016llx", length, hash);
    return token;
}

}  // namespace

SettingsRead read_settings_file(const char *path) {
    SettingsRead read;
    SettingsVerdict &v = read.verdict;
    // Looked at before opening: opening a FIFO would wait for a writer, and
    // only a regular file's size bounds what the reader may take.
    struct stat st;
    const bool found = stat(path, &st) == 0;
    if (found && S_ISDIR(st.st_mode)) {
        v.usage = std::string(path) + ": a directory";
    } else if (found && !S_ISREG(st.st_mode)) {
        v.usage = std::string(path) + ": not a regular file";
    } else if (found && st.st_size > kMaxSettings_bytes) {
        v.usage = std::string(path) + ": over 64 KiB";
    }
    if (!v.usage.empty()) return read;
    ScanInput in;
    if (!scan_open(in, path)) {
        v.text = std::string(kMsgSettingsUnopened) + ": " + strerror(errno);
        return read;
    }
    v.opened = true;
    errno = 0;
    v.whole = read_settings(in, read.values);
    const int error = errno;
    v.stop_byte = offset_of(in);
    std::string content(static_cast<size_t>(kMaxSettings_bytes), '\0');
    const ssize_t n = pread(in.fd, content.data(), content.size(), 0);
    content.resize(n > 0 ? static_cast<size_t>(n) : 0);
    read.token = settings_token(content);
    for (int i = 0; i < v.whole; ++i) read.found[i] = true;
    int64_t end = v.whole == kSettingsCount ? v.stop_byte : -1;
    if (v.whole == kSettingsCount) {
        v.text = "ok";
    } else {
        v.text = std::string(kMsgSettingsIncomplete) + ": entry " + std::to_string(v.whole + 1) +
                 " (" + kSettingsEntries[v.whole].key + ") at byte " + std::to_string(v.stop_byte) +
                 ": " + reason(content, v.stop_byte, v.whole, error);
    }
    // Each later entry: the first line after the stop that starts with it.
    for (int i = v.whole + 1; i < kSettingsCount; ++i) {
        const SettingsEntry &e = kSettingsEntries[i];
        for (size_t nl = content.find('\n', static_cast<size_t>(v.stop_byte));
             nl != std::string::npos && !read.found[i]; nl = content.find('\n', nl + 1)) {
            // The scanner only for a line that starts with the key: a seek refills its buffer.
            if (content.compare(nl + 1, strlen(e.key), e.key) != 0) continue;
            seek(in, static_cast<int64_t>(nl + 1));
            ControllerState scratch;
            if (read_settings(in, scratch, i) == 0) continue;
            if (e.number != nullptr) {
                read.values.*e.number = scratch.*e.number;
            } else {
                memcpy(read.values.*e.word, scratch.*e.word, sizeof(scratch.*e.word));
            }
            read.found[i] = true;
            if (i == kSettingsCount - 1) end = offset_of(in);
        }
    }
    scan_close(in);
    if (end >= 0 && end <= static_cast<int64_t>(content.size())) {
        read.notes = content.substr(static_cast<size_t>(end));
    }
    return read;
}

std::string settings_token(const std::string &bytes) {
    // FNV-1a: its offset basis and prime.
    const uint64_t hash = std::accumulate(
        bytes.begin(), bytes.end(), uint64_t{0xcbf29ce484222325},
        [](uint64_t h, char c) { return (h ^ static_cast<unsigned char>(c)) * 0x100000001b3; });
    return token_text(bytes.size(), static_cast<unsigned long long>(hash));
}

bool token_shaped(const std::string &token) {
    if (token == kNoToken) return true;
    // Read loosely, then held to the shape by writing it again.
    const char *text = token.c_str();
    char *dash = nullptr, *end = nullptr;
    errno = 0;
    const unsigned long long length = strtoull(text, &dash, 10);
    if (dash == text || *dash != '-') return false;
    const unsigned long long hash = strtoull(dash + 1, &end, 16);
    return errno == 0 && *end == '\0' && token_text(static_cast<size_t>(length), hash) == token;
}

std::string setting_text(const SettingsRead &read, int i) {
    if (!read.found[i]) return "";
    const SettingsEntry &e = kSettingsEntries[i];
    return e.number != nullptr ? std::to_string(read.values.*e.number)
                               : std::string(read.values.*e.word);
}

std::string verdict_lines(const SettingsVerdict &v) {
    const bool ok = v.whole == kSettingsCount;
    return "settings=" + (v.usage.empty() ? v.text : v.usage) +
           "\nsettings_entry=" + (v.opened && !ok ? std::to_string(v.whole + 1) : "") +
           "\nsettings_byte=" + (v.opened ? std::to_string(v.stop_byte) : "") + "\n";
}
