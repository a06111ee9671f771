// velmoractl clear-log: empties PID_log, which it never creates.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "commands.h"
#include "module_files.h"

CtlOutput ctl_clear_log() {
    const int fd = open(kLogFile, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno != ENOENT) {
        return CtlOutput{
            1, "",
            std::string("velmoractl: cannot empty ") + kLogFile + ": " + strerror(errno) + "\n"};
    }
    if (fd >= 0) close(fd);
    return CtlOutput{0, "cleared\n", ""};
}
