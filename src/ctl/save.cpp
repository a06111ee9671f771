// velmoractl save [--if TOKEN] BASE64: the settings page's save. The new 配置
// is checked by velmora's own reader in a temporary file of its own; then, one
// save at a time, it replaces the old one whole, and the exit status says
// what 配置 holds afterwards.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base64.h"
#include "commands.h"
#include "files.h"
#include "module_files.h"
#include "verdict.h"

namespace {

// Waits for the module's save lock, an flock, which the kernel lets go of
// when its holder ends, crashed or not: the descriptor, or -1 (errno set).
int lock_saves() {
    const int fd = open(kSaveLockFile, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    while (fd >= 0 && flock(fd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

// Under the lock: temp replaces 配置 when 配置 is no link and, with if_token,
// is still of that version. 0 only when 配置 then holds bytes.
CtlOutput replace_settings(const std::string &bytes, TempFile &temp, const char *if_token) {
    const std::string path = kSettingsFile;
    struct stat st;
    if (lstat(kSettingsFile, &st) == 0 && S_ISLNK(st.st_mode)) {
        drop_temp(temp);
        return usage_error(path + " is a symbolic link: not replaced by a file");
    }
    // The version as velmoractl settings gave it, by the same reader.
    if (if_token != nullptr && read_settings_file(kSettingsFile).token != if_token) {
        drop_temp(temp);
        return failure(kStaleExit, path + " changed since it was read: not saved");
    }
    const bool committed = commit_temp(temp, kSettingsFile);
    const std::string why = strerror(errno);
    std::string now;
    if (!read_head(kSettingsFile, static_cast<size_t>(kMaxSettings_bytes) + 1, &now) ||
        now != bytes) {
        return usage_error(committed ? path + " was replaced again at once by another writer"
                                     : "cannot replace " + path + ": " + why);
    }
    CtlOutput output{0, "saved\n", ""};
    if (!committed) output.err = error_line("not synced to disk: " + why);
    // The update replaces the module, 配置 with it, at the next boot.
    if (stat(kUpdateDir, &st) == 0 && S_ISDIR(st.st_mode) &&
        !write_atomically(kUpdateSettingsFile, bytes)) {
        output.err += error_line(std::string("not saved to the pending update, whose older copy "
                                             "replaces 配置 at the next boot: cannot write ") +
                                 kUpdateSettingsFile + ": " + strerror(errno));
    }
    return output;
}

}  // namespace

CtlOutput stage_settings(const std::string &base64, std::string *bytes, TempFile *temp) {
    if (base64.size() > static_cast<size_t>((kMaxSettings_bytes + 2) / 3 * 4)) {
        return usage_error("the new settings are over 64 KiB");
    }
    if (!base64_decode(base64, bytes)) return usage_error("the new settings are not base64");
    if (bytes->size() > static_cast<size_t>(kMaxSettings_bytes)) {
        return usage_error("the new settings are over 64 KiB");
    }
    *temp = write_temp(kSettingsFile, *bytes);
    if (temp->name.empty()) {
        return usage_error(std::string("cannot write beside ") + kSettingsFile + ": " +
                           strerror(errno));
    }
    const SettingsVerdict v = read_settings_file(temp->name.c_str()).verdict;
    if (v.text == "ok") return CtlOutput{};
    drop_temp(*temp);
    return CtlOutput{1, v.text + "\n", ""};
}

CtlOutput ctl_save(const std::string &base64, const char *if_token) {
    if (if_token != nullptr && !token_shaped(if_token)) {
        return usage_error("save --if takes a token of velmoractl settings");
    }
    std::string bytes;
    TempFile temp;
    CtlOutput staged = stage_settings(base64, &bytes, &temp);
    if (staged.status != 0) return staged;
    const int lock = lock_saves();
    if (lock < 0) {
        drop_temp(temp);
        return usage_error(std::string("cannot lock ") + kSaveLockFile + ": " + strerror(errno));
    }
    CtlOutput output = replace_settings(bytes, temp, if_token);
    close(lock);
    return output;
}
