// velmoractl save BASE64: the settings page's save. The new 配置 is checked
// by velmora's own reader before it replaces the old one whole.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base64.h"
#include "commands.h"
#include "files.h"
#include "nodes.h"
#include "verdict.h"

CtlOutput stage_settings(const std::string &base64, std::string *bytes) {
    if (base64.size() > static_cast<size_t>((kMaxSettings_bytes + 2) / 3 * 4)) {
        return usage_error("the new settings are over 64 KiB");
    }
    if (!base64_decode(base64, bytes)) return usage_error("the new settings are not base64");
    if (bytes->size() > static_cast<size_t>(kMaxSettings_bytes)) {
        return usage_error("the new settings are over 64 KiB");
    }
    if (!write_temp(kSettingsFile, *bytes)) {
        return usage_error(std::string("cannot write beside ") + kSettingsFile + ": " +
                           strerror(errno));
    }
    const SettingsVerdict v = read_settings_file(temp_of(kSettingsFile).c_str()).verdict;
    if (v.text == "ok") return CtlOutput{};
    drop_temp(kSettingsFile);
    return CtlOutput{1, v.text + "\n", ""};
}

CtlOutput ctl_save(const std::string &base64) {
    std::string bytes;
    CtlOutput staged = stage_settings(base64, &bytes);
    if (staged.status != 0) return staged;
    if (!commit_temp(kSettingsFile)) {
        return usage_error(std::string("cannot replace ") + kSettingsFile + ": " + strerror(errno));
    }
    struct stat st;
    if (stat(kUpdateDir, &st) == 0 && S_ISDIR(st.st_mode) &&
        !write_atomically(kUpdateSettingsFile, bytes)) {
        return usage_error(std::string("cannot write ") + kUpdateSettingsFile + ": " +
                           strerror(errno));
    }
    std::string back;
    if (!read_head(kSettingsFile, static_cast<size_t>(kMaxSettings_bytes) + 1, &back) ||
        back != bytes) {
        return usage_error(std::string(kSettingsFile) + " reads back other than written");
    }
    return CtlOutput{0, "saved\n", ""};
}
