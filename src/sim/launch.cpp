// Starting and ending the real velmora under libfaketime in a device tree.
#include "launch.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

pid_t launch_velmora(const std::string &binary, const std::string &faketime_library,
                     const std::string &root, const std::string &stderr_path,
                     const std::string &start, double speed) {
    char speed_text[32];
    snprintf(speed_text, sizeof speed_text, "%g", speed);
    std::vector<std::string> env = {"LD_PRELOAD=" + faketime_library,
                                    "FAKETIME=@" + start + " x" + speed_text, "TZ=UTC"};
    for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
        if (const char *value = getenv(name)) env.push_back(std::string(name) + "=" + value);
    }
    // Everything is made ready before the fork: the sweep launches from several
    // threads, and a child of a threaded process may only call what is safe
    // between fork and exec (no allocation).
    std::vector<char *> envp;
    for (std::string &entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    char *const argv[] = {const_cast<char *>(binary.c_str()), nullptr};
    const int err = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) {
        if (err >= 0) close(err);
        return pid;
    }
    // velmora never ends by itself: it dies with us, should we end without
    // end_velmora (an error, Ctrl-C), instead of charging on in the background.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(127);
    if (err < 0 || dup2(err, 2) < 0 || chdir(root.c_str()) != 0) _exit(127);
    execve(binary.c_str(), argv, envp.data());
    _exit(127);
}

void end_velmora(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    const std::string id = std::to_string(pid);
    unlink(("/dev/shm/faketime_shm_" + id).c_str());
    unlink(("/dev/shm/sem.faketime_sem_" + id).c_str());
}
