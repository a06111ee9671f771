// velmoractl charger keep|restore: the charge node as the kernel had it
// before velmora's first write of this boot, recorded in charger.kept, and
// given back whenever velmora ends. A node that velmora has written is never
// recorded: when the boot's first keep fails, restore has nothing to put back.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
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
#include "regulator.h"
#include "scan.h"

namespace {

// charger.kept: the boot it was taken in, the node, the kernel's own limit
// (none when the node showed no limit), the node's first line as shown, and
// its mode.
struct Kept {
    std::string boot, node, shown;
    int32_t value_uA = 0;  // 0: the kernel showed no limit
    unsigned mode = 0;
};

// The modes velmora leaves on the charge node by its write-and-lock protocol.
// The kernel gives a node velmora can write neither (0644, or 0664 from the
// vendor's init): a node found so holds velmora's limit, not the kernel's own.
constexpr unsigned kVelmoraModes[] = {kUnlockedMode, kLockedMode};

// The permission bits a record may put back: read, write and execute for
// owner, group and others, never set-id or sticky bits.
constexpr unsigned kMaxKeptMode = 0777;

// How much of the node's first line is kept to name it in messages, bytes.
constexpr size_t kMaxShown_bytes = 24;

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

// The record's "key=value" lines, as ctl_charger_keep writes them, each key
// once: a value is a limit (digits, 1 to 2147483647 uA) or "none".
bool read_kept(Kept *kept) {
    std::string text, value, mode;
    if (!read_head(kChargerKeptFile, kMaxRead_bytes, &text)) return false;
    const char *keys[] = {"boot", "node", "value", "shown", "mode"};
    std::string *fields[] = {&kept->boot, &kept->node, &value, &kept->shown, &mode};
    unsigned found = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return false;
        for (size_t k = 0; k < std::size(keys); ++k) {
            if (line.compare(0, eq, keys[k]) != 0) continue;
            if ((found & (1u << k)) != 0) return false;
            found |= 1u << k;
            *fields[k] = line.substr(eq + 1);
        }
        at = end + 1;
    }
    int64_t value_uA = 0;
    if (found != (1u << std::size(keys)) - 1 || !parse_mode(mode, &kept->mode)) return false;
    if (value != "none" && !parse_decimal(value, 1, INT32_MAX, &value_uA)) return false;
    kept->value_uA = static_cast<int32_t>(value_uA);
    return true;
}

// The charge node now: its limit when it shows one (a number above 0 by
// velmora's own reader), its first line as shown and its mode. The value is
// read before the mode: a mode that is not velmora's then means that velmora
// had not written the node yet when the value was read.
bool read_node(Kept *kept) {
    int32_t value = 0;
    std::string text;
    struct stat st;
    if (!read_head(kept->node.c_str(), kMaxRead_bytes, &text)) return false;
    const bool limit = node_int(kept->node.c_str(), &value) && value > 0;
    if (stat(kept->node.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    text.resize(std::min(text.find('\n'), text.size()));
    while (!text.empty() && isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    kept->shown = printable(text.substr(0, kMaxShown_bytes));
    kept->value_uA = limit ? value : 0;
    kept->mode = st.st_mode & 07777;
    return true;
}

std::string octal(unsigned mode) {
    char text[8];
    (void)snprintf(text, sizeof text, "%04o", mode);
    return text;
}

std::string describe(const Kept &kept) {
    return (kept.value_uA > 0 ? std::to_string(kept.value_uA) + " uA"
                              : "no limit (\"" + kept.shown + "\")") +
           ", mode " + octal(kept.mode);
}

// This boot's record, of a charge node of the catalogue: what a stop gives back.
bool this_boots_record(Kept *kept) {
    return read_kept(kept) && kept->boot == file_text(kBootIdFile) &&
           (kept->node == kOldChargeNode || kept->node == kNewChargeNode);
}

// The limit a stop writes: the kernel's own, or velmora's highest where the
// node showed no limit at boot. That text is not written back, for it would
// hold charging or mean nothing: -22 is an error code the driver gave for
// the value, 0 a limit some drivers take as "do not charge", 4294967295 lies
// past the int a power-supply property holds, and an empty node or a word is
// no number. velmora's highest limit is the largest value of that int, one
// velmora itself may write, and a driver holds it to what its charger gives.
int32_t limit_of(const Kept &kept) {
    return kept.value_uA > 0 ? kept.value_uA : kHighestLimit_uA;
}

// Writes the limit as velmora does, a decimal line; false (errno set) when
// the node refuses it.
bool write_limit(const std::string &node, int32_t limit_uA) {
    char line[16];
    char *end = put_int(line, limit_uA);
    *end++ = '\n';
    const int aimFile = open_charge_node(node.c_str());
    if (aimFile < 0) return false;
    const size_t length = static_cast<size_t>(end - line);
    const bool written = write(aimFile, line, length) == static_cast<ssize_t>(length);
    const int saved = errno;
    close(aimFile);
    errno = saved;
    return written;
}

}  // namespace

CtlOutput ctl_charger_keep() {
    Kept kept;
    const std::string boot = file_text(kBootIdFile);
    // Kept once per boot: a restart finds velmora's last limit in the node.
    if (!boot.empty() && read_kept(&kept) && kept.boot == boot) {
        return CtlOutput{0, "charge node kept already this boot: " + describe(kept) + "\n", ""};
    }
    kept = Kept{};
    kept.boot = boot.empty() ? "unknown" : boot;
    kept.node = charge_node(charge_generation());
    if (!read_node(&kept)) {
        return failure(1, "cannot read the charge node " + kept.node);
    }
    if (std::find(std::begin(kVelmoraModes), std::end(kVelmoraModes), kept.mode) !=
        std::end(kVelmoraModes)) {
        return failure(1, "the charge node holds velmora's limit, not the kernel's own (" +
                              describe(kept) + "): nothing kept this boot");
    }
    kept.mode &= kMaxKeptMode;
    const std::string record = "boot=" + kept.boot + "\nnode=" + kept.node + "\nvalue=" +
                               (kept.value_uA > 0 ? std::to_string(kept.value_uA) : "none") +
                               "\nshown=" + kept.shown + "\nmode=" + octal(kept.mode) + "\n";
    if (!write_atomically(kChargerKeptFile, record)) {
        return failure(1, std::string("cannot write ") + kChargerKeptFile + ": " + strerror(errno) +
                              ": nothing kept this boot");
    }
    return CtlOutput{0, "charge node kept: " + describe(kept) + "\n", ""};
}

CtlOutput ctl_charger_restore() {
    Kept kept;
    if (!this_boots_record(&kept)) {
        return failure(1, std::string("nothing to put back: no record of the charge node from "
                                      "this boot in ") +
                              kChargerKeptFile);
    }
    const int32_t limit_uA = limit_of(kept);
    const bool written = write_limit(kept.node, limit_uA);
    const int saved = errno;
    // The kernel's mode, whether or not the node took the limit.
    const bool moded = chmod(kept.node.c_str(), kept.mode) == 0;
    const std::string limit = std::to_string(limit_uA) + " uA", mode = octal(kept.mode);
    if (!written) {
        return failure(1, "cannot write " + limit + " to " + kept.node + ": " + strerror(saved) +
                              (moded ? "; mode " + mode + " put back" : ""));
    }
    if (!moded) {
        return failure(1, "wrote " + limit + " to " + kept.node + ", but cannot put mode " + mode +
                              " back: " + strerror(errno));
    }
    if (kept.value_uA > 0) {
        return CtlOutput{0, "charge node put back to " + describe(kept) + "\n", ""};
    }
    return CtlOutput{0,
                     "charge node set to " + limit +
                         " (velmora's highest limit: the kernel showed no limit at boot, \"" +
                         kept.shown + "\"), mode " + mode + "\n",
                     ""};
}

std::string charger_status_lines() {
    Kept kept;
    if (!this_boots_record(&kept))
        return "restore=none\nrestore_mA=\nrestore_mode=\nshown_at_boot=\n";
    return std::string("restore=") + (kept.value_uA > 0 ? "kernel" : "highest") +
           "\nrestore_mA=" + std::to_string(limit_of(kept) / kMicroampsPerMilliamp) +
           "\nrestore_mode=" + octal(kept.mode) + "\nshown_at_boot=" + kept.shown + "\n";
}

std::string charger_probe_lines() {
    Kept kept;
    kept.node = charge_node(charge_generation());
    if (!read_node(&kept)) return "charge_limit=\n";
    if (kept.value_uA > 0) return "charge_limit=" + std::to_string(kept.value_uA) + "\n";
    return "charge_limit=none\ncharge_note=The charge node " + printable(kept.node) +
           " shows no limit (\"" + kept.shown +
           "\"): velmora regulates it, and whenever velmora ends it sets " +
           std::to_string(kHighestLimit_uA) +
           " uA, velmora's highest limit, so that charging is not held back\n";
}
