// The diagnostic log: one line appended per cycle, in a single write.
#include "debug_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "log_line.h"
#include "messages.h"
#include "module_files.h"
#include "nodes.h"
#include "state.h"

namespace {

// The kernel reports uA, negative while charging; the log shows mA, positive.
constexpr int32_t kMicroampsPerLoggedMilliamp = -1000;
constexpr mode_t kNewFileMode = 0666;  // before the umask, as for any new file

}  // namespace

void debug() {
    const ControllerState &s = g_state;
    const int outputFile = open(kLogFile, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kNewFileMode);
    if (outputFile < 0) perror(kMsgOutputUnopened);
    const int32_t current_mA = read_int(kCurrentNowNode) / kMicroampsPerLoggedMilliamp;
    const int32_t capacity_pct = read_int(kCapacityNode);
    if (outputFile < 0) return;

    // Longest line: 4 texts of 29 bytes, 15 numbers of 11, tags and labels under 200.
    char line[512];
    const int length =
        snprintf(line, sizeof line, kLogLineFormat, s.timeStr, s.night, s.morning, s.on_temp,
                 s.off_temp, s.status, s.in_power, s.aim_temp, s.temp_batery, s.temp_board, s.temp,
                 s.aim, s.aim_current, current_mA, capacity_pct, s.integral, s.differential,
                 s.device, s.device_status, s.phonemodel, s.PID_version);
    // One append of the whole line, so no reader ever sees half of it from us.
    // A full disk may take only part of it: the part is cut off again (the
    // file ends where our write ended, minus what it wrote), so the line is
    // lost whole and the next cycle's starts a line of its own.
    if (length > 0 && static_cast<size_t>(length) < sizeof line) {
        const ssize_t written = write(outputFile, line, static_cast<size_t>(length));
        if (written > 0 && written < length) {
            const off_t end = lseek(outputFile, 0, SEEK_CUR);
            if (end >= written) (void)!ftruncate(outputFile, end - written);
        }
    }
    close(outputFile);
}
