// velmoractl charger keep|restore: the charge node as the kernel had it
// before velmora's first write of this boot, recorded in charger.kept, and put
// back whenever velmora ends. A node that velmora has written is never
// recorded: when the boot's first keep fails, restore has nothing to put back.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "commands.h"
#include "decimal.h"
#include "files.h"
#include "module_files.h"
#include "nodes.h"
#include "reads.h"

namespace {

// charger.kept: the boot it was taken in, the node, its value and mode.
struct Kept {
    std::string boot, node;
    int32_t value_uA = 0;
    unsigned mode = 0;
};

// The modes velmora leaves on the charge node by its write-and-lock protocol.
// The kernel gives a node velmora can write neither (0644, or 0664 from the
// vendor's init): a node found so holds velmora's limit, not the kernel's own.
constexpr unsigned kVelmoraModes[] = {kUnlockedMode, kLockedMode};

// The permission bits a record may put back: read, write and execute for
// owner, group and others, never set-id or sticky bits.
constexpr unsigned kMaxKeptMode = 0777;

// A mode as the record writes it: octal digits only, at most 0777.
bool parse_mode(const std::string &text, unsigned *mode) {
    unsigned bits = 0;
    if (text.empty() || text.size() > 4) return false;
    for (const char c : text) {
        if (c < '0' || c > '7') return false;
        bits = bits * 8 + static_cast<unsigned>(c - '0');
    }
    if (bits > kMaxKeptMode) return false;
    *mode = bits;
    return true;
}

// The record's "key=value" lines, as ctl_charger_keep writes them.
bool read_kept(Kept *kept) {
    std::string text, value, mode;
    if (!read_head(kChargerKeptFile, kMaxRead_bytes, &text)) return false;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return false;
        const std::string key = line.substr(0, eq), rest = line.substr(eq + 1);
        if (key == "boot") kept->boot = rest;
        if (key == "node") kept->node = rest;
        if (key == "value") value = rest;
        if (key == "mode") mode = rest;
        at = end + 1;
    }
    // The kernel's own limit: digits only, within int32.
    int64_t value_uA = 0;
    if (!parse_decimal(value, 0, INT32_MAX, &value_uA) || !parse_mode(mode, &kept->mode))
        return false;
    kept->value_uA = static_cast<int32_t>(value_uA);
    return true;
}

std::string describe(const Kept &kept) {
    char text[64];
    (void)snprintf(text, sizeof text, "%d uA, mode %04o", kept.value_uA, kept.mode);
    return text;
}

}  // namespace

CtlOutput ctl_charger_keep() {
    Kept kept;
    const std::string boot = file_text(kBootIdFile);
    // Kept once per boot: a restart finds velmora's last limit in the node.
    if (!boot.empty() && read_kept(&kept) && kept.boot == boot) {
        return CtlOutput{0, "charge node kept already this boot: " + describe(kept) + "\n", ""};
    }
    kept = Kept{boot.empty() ? "unknown" : boot, charge_node(charge_generation()), 0, 0};
    // The value before the mode: a mode that is not velmora's then means that
    // velmora had not written the node yet when the value was read.
    struct stat st;
    if (!node_int(kept.node.c_str(), &kept.value_uA) || stat(kept.node.c_str(), &st) != 0) {
        return CtlOutput{1, "", "velmoractl: cannot read the charge node " + kept.node + "\n"};
    }
    kept.mode = st.st_mode & 07777;
    if (std::find(std::begin(kVelmoraModes), std::end(kVelmoraModes), kept.mode) !=
        std::end(kVelmoraModes)) {
        return CtlOutput{
            1, "",
            "velmoractl: the charge node holds velmora's limit, not the kernel's own (" +
                describe(kept) + "): nothing kept this boot\n"};
    }
    kept.mode &= kMaxKeptMode;
    char record[512];
    (void)snprintf(record, sizeof record, "boot=%s\nnode=%s\nvalue=%d\nmode=%04o\n",
                   kept.boot.c_str(), kept.node.c_str(), kept.value_uA, kept.mode);
    if (!write_atomically(kChargerKeptFile, record)) {
        return CtlOutput{1, "",
                         std::string("velmoractl: cannot write ") + kChargerKeptFile + ": " +
                             strerror(errno) + ": nothing kept this boot\n"};
    }
    return CtlOutput{0, "charge node kept: " + describe(kept) + "\n", ""};
}

CtlOutput ctl_charger_restore() {
    Kept kept;
    // Only a record of this boot, and only to a charge node of the catalogue.
    if (!read_kept(&kept) || kept.boot != file_text(kBootIdFile) ||
        (kept.node != kOldChargeNode && kept.node != kNewChargeNode)) {
        return CtlOutput{1, "",
                         std::string("velmoractl: nothing to put back: no record of the charge "
                                     "node from this boot in ") +
                             kChargerKeptFile + "\n"};
    }
    const int aimFile = open_charge_node(kept.node.c_str());
    if (aimFile < 0) {
        return CtlOutput{1, "",
                         "velmoractl: cannot open " + kept.node + ": " + strerror(errno) + "\n"};
    }
    write_aim_current(aimFile, kept.value_uA);
    (void)chmod(kept.node.c_str(), kept.mode);
    return CtlOutput{0, "charge node put back to " + describe(kept) + "\n", ""};
}
