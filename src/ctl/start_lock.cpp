// velmoractl start-lock FD: start.sh's check for a velmora and its start as
// one step, so that a module runs one velmora at most. The lock is an flock on
// the file start.sh opened as descriptor FD: every process that inherits FD
// (the supervisor and velmora) holds it until the last of them ends, and the
// kernel lets go of it however they end.
#include <sys/file.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "commands.h"
#include "reads.h"

namespace {

// A start takes well under a second from its lock to velmora's exec, and a
// stop as long from velmora's end to its supervisor's; a start waits that
// long for the other to show a velmora or let go.
constexpr int kWait_ms = 2000;
constexpr int kPoll_ms = 10;

}  // namespace

CtlOutput ctl_start_lock(int fd) {
    for (int waited_ms = 0;; waited_ms += kPoll_ms) {
        const bool locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (!locked && errno != EWOULDBLOCK) {
            return usage_error("start-lock: descriptor " + std::to_string(fd) + ": " +
                               strerror(errno));
        }
        // Locked: velmora may still run, started otherwise (by hand, or by a
        // start.sh before this lock), so every process is looked at once.
        // Waiting: the holder's velmora shows in the pid file.
        const std::string pid = locked ? running_velmora() : pid_file_velmora();
        if (!pid.empty()) {
            if (locked) (void)flock(fd, LOCK_UN);
            return CtlOutput{1, "velmora runs already (pid " + pid + ")\n", ""};
        }
        if (locked) return CtlOutput{};
        if (waited_ms >= kWait_ms) {
            return CtlOutput{1, "another start or stop of velmora is under way\n", ""};
        }
        const timespec poll = {0, kPoll_ms * 1000000L};
        (void)nanosleep(&poll, nullptr);
    }
}
