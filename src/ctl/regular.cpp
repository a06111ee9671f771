// velmoractl regular FILE: whether the module's scripts may open FILE as a
// file of their own: status 0 when it is a regular file or missing; else
// status 1 and why, so that a script never writes through a link nor waits
// on a FIFO planted in its place.
#include "commands.h"
#include "files.h"

CtlOutput ctl_regular(const std::string &path) {
    const std::string kind = not_regular(path.c_str());
    if (kind.empty()) return CtlOutput{};
    const size_t slash = path.rfind('/');
    return CtlOutput{
        1,
        path.substr(slash == std::string::npos ? 0 : slash + 1) + " is " + kind + ", not a file\n",
        ""};
}
