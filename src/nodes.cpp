// The node readers, the platform probe and the charge node's write-and-lock.
#include "nodes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "messages.h"
#include "scan.h"
#include "state.h"

char read_date_char[24];

int32_t read_int(const char *path) {
    ScanInput in;
    if (!scan_open(in, path)) {
        perror(kMsgIntNodeUnopened);
        return 0;
    }
    int32_t value = 0;
    if (!scan_int(in, &value)) {
        perror(kMsgIntNodeNoNumber);
        value = 0;
    }
    scan_close(in);
    return value;
}

const char *read_char(const char *path) {
    ScanInput in;
    if (!scan_open(in, path)) {
        perror(kMsgWordNodeUnopened);
        return "0";
    }
    const bool found = scan_word(in, read_date_char, sizeof read_date_char);
    if (!found) perror(kMsgWordNodeEmpty);
    scan_close(in);
    return found ? read_date_char : "0";
}

const char *backlight_family() {
    if (access(kQualcommBacklightNode, F_OK) == 0) return kQualcommTag;
    if (access(kMediatekBacklightNode, F_OK) == 0) return kMediatekTag;
    return nullptr;
}

const char *charge_generation() {
    return access(kOldChargeNode, F_OK) == 0 ? kOldGenerationTag : kNewGenerationTag;
}

bool probe_platform() {
    const char *family = backlight_family();
    if (family == nullptr) {
        perror(kMsgNoBacklight);
        return false;
    }
    g_state.device = family;
    g_state.device_status = charge_generation();
    return true;
}

const char *brightness_node(const char *device) {
    return strcmp(device, kMediatekTag) == 0 ? kMediatekBacklightNode : kQualcommBacklightNode;
}

const char *charge_node(const char *device_status) {
    return strcmp(device_status, kNewGenerationTag) == 0 ? kNewChargeNode : kOldChargeNode;
}

int open_charge_node(const char *path) {
    chmod(path, kUnlockedMode);
    return open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
}

void write_aim_current(int aimFile, int32_t value) {
    char line[16];
    char *end = put_int(line, value);
    *end++ = '\n';
    // A failed write leaves the node's old limit in force; the next cycle writes again.
    (void)!write(aimFile, line, static_cast<size_t>(end - line));
    close(aimFile);
}

int32_t read_back_current(const char *path) {
    chmod(path, kLockedMode);
    return read_int(path) / kMicroampsPerMilliamp;
}
