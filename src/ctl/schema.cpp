// velmoractl schema: the contracts the settings page and the module's scripts
// follow, printed from the one place each lives, so that neither spells them
// again: the module's files, the settings' entries and word limit, and the
// cycle's pauses and night target.
#include <string>

#include "commands.h"
#include "cycle.h"
#include "module_files.h"
#include "settings.h"

namespace {

// A module file's name within the module directory.
std::string name_in_module(const char *path) {
    return path + sizeof kModuleDir;
}

}  // namespace

CtlOutput ctl_schema() {
    CtlOutput output;
    std::string &out = output.out;
    out = "module_dir=" VELMORA_MODULE_PATH "\n";
    const struct {
        const char *key, *path;
    } files[] = {{"settings_file", kSettingsFile},
                 {"log_file", kLogFile},
                 {"pid_file", kPidFile},
                 {"err_file", kErrFile},
                 {"older_err_file", kOlderErrFile},
                 {"start_lock_file", kStartLockFile}};
    for (const auto &f : files) out += std::string(f.key) + "=" + name_in_module(f.path) + "\n";
    out += "executables=";
    for (const char *name : kModuleExecutables) out += std::string(name) + ",";
    out.back() = '\n';
    // Each entry as KEY:NAME:KIND, the key without its "=".
    out += "entries=";
    for (const SettingsEntry &e : kSettingsEntries) {
        const std::string key = e.key;
        out += key.substr(0, key.size() - 1) + ":" + e.name + ":" +
               kSettingKindNames[static_cast<int>(e.kind)] + ",";
    }
    out.back() = '\n';
    out += "word_max_bytes=" + std::to_string(kSettingsWordMax_bytes) +
           "\ncharging_pause_s=" + std::to_string(kChargingPause_s) +
           "\nidle_pause_s=" + std::to_string(kIdlePause_s) +
           "\nnight_target_mC=" + std::to_string(kNightTarget_mC) + "\n";
    return output;
}
