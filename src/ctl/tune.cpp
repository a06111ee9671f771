// velmoractl tune start|status|summary|cancel: the settings page's way to
// velmora-sim tune, which takes about a minute on a phone. start leaves it
// running detached from the page's shell, so the bridge is not held; status
// tells whether one runs (its lock), its stage and the last result.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "base64.h"
#include "commands.h"
#include "decimal.h"
#include "files.h"
#include "module_files.h"
#include "reads.h"

namespace {

constexpr int kStartWait_ms = 2000;  // for the tune to take its lock
constexpr size_t kMaxResult_bytes = 1 << 16;

// Whether a tune holds its lock now.
bool tune_runs() {
    const int fd = open(kTuneLockFile, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

CtlOutput start() {
    if (tune_runs()) return failure(1, "a tune runs already");
    if (access(kSimProgram, X_OK) != 0)
        return failure(1, std::string("cannot run ") + kSimProgram + ": " + strerror(errno));
    char *const argv[] = {const_cast<char *>("velmora-sim"), const_cast<char *>("tune"),
                          const_cast<char *>(kLogFile), nullptr};
    // Twice forked, in a session of its own, its streams on /dev/null: the
    // page's shell ends at once and the tune goes on, even when the page closes.
    const pid_t child = fork();
    if (child < 0) return failure(1, std::string("cannot fork: ") + strerror(errno));
    if (child == 0) {
        if (setsid() < 0 || fork() != 0) _exit(0);
        const int null = open("/dev/null", O_RDWR);
        if (null < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0) _exit(127);
        execv(kSimProgram, argv);
        _exit(127);
    }
    waitpid(child, nullptr, 0);
    // Answered once the tune holds its lock, so that a status right after
    // this sees it run; a tune that ends within the wait has its result.
    for (int ms = 0; ms < kStartWait_ms && !tune_runs(); ms += 10) usleep(10000);
    return CtlOutput{0, "started\n", ""};
}

CtlOutput status() {
    std::string result;
    if (!read_head(kTuneFile, kMaxResult_bytes, &result)) result.clear();
    return CtlOutput{0,
                     std::string("running=") + (tune_runs() ? "yes" : "no") +
                         "\nstage=" + file_text(kTuneStageFile) +
                         "\nprogram=" + (access(kSimProgram, X_OK) == 0 ? "yes" : "no") +
                         "\nresult_base64=" + base64_encode(result) + "\n",
                     ""};
}

// velmora-sim's one line on what the log holds, read through a pipe.
CtlOutput summary() {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return failure(1, std::string("cannot pipe: ") + strerror(errno));
    const pid_t child = fork();
    if (child == 0) {
        if (dup2(out[1], 1) < 0) _exit(127);
        execl(kSimProgram, "velmora-sim", "tune", kLogFile, "--summary", nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char block[512];
    for (ssize_t got; child > 0 && (got = read(out[0], block, sizeof block)) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 || line.size() > kMaxRead_bytes) break;
        line.append(block, static_cast<size_t>(got));
    }
    close(out[0]);
    int code = -1;
    if (child < 0 || waitpid(child, &code, 0) != child || !WIFEXITED(code) ||
        WEXITSTATUS(code) != 0)
        return failure(1, std::string("cannot run ") + kSimProgram + " tune --summary");
    return CtlOutput{0, line, ""};
}

// Ends the running tune: the process its lock names, when it is velmora-sim.
CtlOutput cancel() {
    if (!tune_runs()) return failure(1, "no tune runs");
    int64_t pid = 0;
    const std::string named = file_text(kTuneLockFile);
    if (!parse_decimal(named.c_str(), 1, INT32_MAX, &pid) || !runs_program(named, "velmora-sim"))
        return failure(1, "the tune's lock names no velmora-sim");
    if (kill(static_cast<pid_t>(pid), SIGTERM) != 0)
        return failure(1, std::string("cannot end the tune: ") + strerror(errno));
    return CtlOutput{0, "cancelled\n", ""};
}

}  // namespace

CtlOutput ctl_tune(const char *action) {
    const std::string what = action;
    if (what == "start") return start();
    if (what == "status") return status();
    if (what == "summary") return summary();
    if (what == "cancel") return cancel();
    return usage_error("tune takes start, status, summary or cancel");
}
