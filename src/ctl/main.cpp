// velmoractl [--base64] SUBCOMMAND [ARGS]: the module's and the settings
// page's one way into velmora's files and nodes. This file reads the
// arguments and dispatches; each subcommand lives in a file of its name.
// Usage errors: one line on the error stream and exit status 2.
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "base64.h"
#include "commands.h"
#include "decimal.h"
#include "output.h"

namespace {

constexpr char kUsage[] =
    "usage: velmoractl [--base64] status|check FILE|settings|schema|save [--if TOKEN] BASE64|"
    "clear-log|zone NAME|probe|series [HOURS] [--since T] [--until T] [--before BYTE]|"
    "charger keep|restore|start-lock FD|describe TEXT|regular FILE|tune start|status|summary|"
    "cancel";

// A whole non-negative decimal number within int64.
bool parse_count(const char *text, int64_t *value) {
    return parse_decimal(text, 0, INT64_MAX, value);
}

CtlOutput series(int argc, char **argv) {
    int64_t hours = 24, since = -1, until = -1, before = -1;
    bool hours_given = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        int64_t *target = arg == "--since"    ? &since
                          : arg == "--until"  ? &until
                          : arg == "--before" ? &before
                                              : nullptr;
        if (target != nullptr) {
            if (++i == argc || !parse_count(argv[i], target)) {
                return usage_error("series: " + arg + " needs a whole number");
            }
        } else if (!hours_given && parse_count(argv[i], &hours) && hours > 0 && hours < 1000000) {
            hours_given = true;
        } else {
            return usage_error("series: unexpected \"" + arg + "\"");
        }
    }
    return ctl_series(hours, since, until, before);
}

CtlOutput charger(const char *action) {
    if (strcmp(action, "keep") == 0) return ctl_charger_keep();
    if (strcmp(action, "restore") == 0) return ctl_charger_restore();
    return usage_error("charger takes keep or restore");
}

CtlOutput save(int argc, char **argv) {
    if (argc == 1) return ctl_save(argv[0], nullptr);
    if (argc == 3 && strcmp(argv[0], "--if") == 0) return ctl_save(argv[2], argv[1]);
    return usage_error("save takes [--if TOKEN] BASE64");
}

CtlOutput start_lock(const char *fd) {
    int64_t value = 0;
    if (!parse_decimal(fd, 0, INT32_MAX, &value))
        return usage_error("start-lock takes a descriptor");
    return ctl_start_lock(static_cast<int>(value));
}

CtlOutput run(int argc, char **argv) {
    if (argc < 1) return usage_error(kUsage);
    const std::string command = argv[0];
    if (command == "series") return series(argc - 1, argv + 1);
    if (command == "save") return save(argc - 1, argv + 1);
    // The others by their number of arguments; arg is the one argument.
    const struct {
        const char *name;
        int args;
        CtlOutput (*run)(const char *arg);
    } commands[] = {
        {"status", 0, [](const char *) { return ctl_status(); }},
        {"probe", 0, [](const char *) { return ctl_probe(); }},
        {"settings", 0, [](const char *) { return ctl_settings(); }},
        {"schema", 0, [](const char *) { return ctl_schema(); }},
        {"clear-log", 0, [](const char *) { return ctl_clear_log(); }},
        {"check", 1, ctl_check},
        {"start-lock", 1, start_lock},
        {"zone", 1, [](const char *arg) { return ctl_zone(arg); }},
        {"describe", 1, [](const char *arg) { return ctl_describe(arg); }},
        {"regular", 1, [](const char *arg) { return ctl_regular(arg); }},
        {"charger", 1, charger},
        {"tune", 1, ctl_tune},
    };
    for (const auto &c : commands) {
        if (command != c.name) continue;
        if (argc - 1 != c.args) {
            return usage_error(command +
                               (c.args == 0 ? " takes no argument" : " takes one argument"));
        }
        return c.run(argv[1]);
    }
    return usage_error("unknown subcommand \"" + command + "\"; " + kUsage);
}

// An empty stream stays empty, encoded or not.
void print(FILE *stream, const std::string &text, bool base64) {
    const std::string shown = base64 && !text.empty() ? base64_encode(text) + "\n" : text;
    (void)fwrite(shown.data(), 1, shown.size(), stream);
}

}  // namespace

int main(int argc, char **argv) {
    // A reader that has gone away must not hide what happened to the files:
    // the exit status says it, written or not.
    (void)signal(SIGPIPE, SIG_IGN);
    const bool base64 = argc > 1 && strcmp(argv[1], "--base64") == 0;
    const int skip = base64 ? 2 : 1;
    const CtlOutput output = run(argc - skip, argv + skip);
    print(stdout, output.out, base64);
    print(stderr, output.err, base64);
    return output.status;
}
