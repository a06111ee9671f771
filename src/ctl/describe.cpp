// velmoractl describe TEXT: the module's description in module.prop, which
// the root manager shows, set to TEXT. The file is replaced whole or not at
// all: a full disk leaves the old one, never an empty one.
#include <cerrno>
#include <cstring>

#include "commands.h"
#include "files.h"
#include "module_files.h"

namespace {

// module.prop is a few hundred bytes; a bigger one is not the module's.
constexpr size_t kMaxProp_bytes = 64 << 10;
constexpr char kKey[] = "description=";

CtlOutput failed(const std::string &why) {
    return failure(1, std::string(kModuleProp) + " " + why);
}

}  // namespace

CtlOutput ctl_describe(const std::string &text) {
    const std::string kind = not_regular(kModuleProp);
    if (!kind.empty()) return failed("is " + kind + ": left as it is");
    std::string prop;
    if (!read_head(kModuleProp, kMaxProp_bytes + 1, &prop)) {
        return failed(std::string("cannot be read: ") + strerror(errno));
    }
    if (prop.size() > kMaxProp_bytes) return failed("is over 64 KiB: left as it is");
    // One line: a line feed in the text would start a property of its own.
    std::string line = kKey;
    for (const char c : text) line += c == '\n' || c == '\r' ? ' ' : c;
    line += '\n';
    std::string updated;
    bool found = false;
    for (size_t at = 0; at < prop.size();) {
        const size_t nl = prop.find('\n', at);
        const size_t next = nl == std::string::npos ? prop.size() : nl + 1;
        const bool ours = !found && prop.compare(at, sizeof kKey - 1, kKey) == 0;
        updated += ours ? line : prop.substr(at, next - at);
        if (nl == std::string::npos && !ours) updated += '\n';
        found = found || ours;
        at = next;
    }
    if (!found) updated += line;
    if (!write_atomically(kModuleProp, updated)) {
        return failed(std::string("left as it was: cannot write its new copy: ") + strerror(errno));
    }
    return CtlOutput{};
}
