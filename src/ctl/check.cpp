// velmoractl check FILE and velmoractl settings: velmora's verdict on a
// settings file, and 配置's eight values for the settings page with the
// version token a save may name.
#include "base64.h"
#include "commands.h"
#include "module_files.h"
#include "settings.h"
#include "verdict.h"

CtlOutput ctl_check(const char *path) {
    const SettingsVerdict v = read_settings_file(path).verdict;
    if (!v.usage.empty()) return usage_error(v.usage);
    return CtlOutput{v.text == "ok" ? 0 : 1, v.text + "\n", ""};
}

CtlOutput ctl_settings() {
    const SettingsRead read = read_settings_file(kSettingsFile);
    CtlOutput output;
    std::string words;  // the words' bytes, which may be of any encoding, like the notes
    for (int i = 0; i < kSettingsCount; ++i) {
        output.out += std::string(kSettingsEntries[i].name) + "=" + setting_text(read, i) + "\n";
        if (kSettingsEntries[i].word != nullptr) {
            words += std::string(kSettingsEntries[i].name) +
                     "_base64=" + base64_encode(setting_text(read, i)) + "\n";
        }
    }
    output.out += words + "notes_base64=" + base64_encode(read.notes) + "\ntoken=" + read.token +
                  "\n" + verdict_lines(read.verdict);
    return output;
}
