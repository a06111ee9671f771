// velmoractl clear-log: empties PID_log, which it never creates, and only as
// a regular file of the module's: never a link's target, never a FIFO.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "commands.h"
#include "files.h"
#include "module_files.h"

CtlOutput ctl_clear_log() {
    std::string why;
    const int fd = open_regular(kLogFile, O_WRONLY, &why);
    const bool missing = fd < 0 && errno == ENOENT, emptied = fd >= 0 && ftruncate(fd, 0) == 0;
    if (fd >= 0 && !emptied) why = strerror(errno);
    if (fd >= 0) close(fd);
    if (missing || emptied) return CtlOutput{0, "cleared\n", ""};
    return failure(1, std::string("cannot empty ") + kLogFile + ": " + why);
}
