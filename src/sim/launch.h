// Starts the velmora binary on a device tree with its clock faked by libfaketime.
#pragma once

#include <sys/types.h>

#include <string>

// Runs binary in root (where the host build's paths lead) with its standard
// error in stderr_path and a clock that starts at start ("YYYY-MM-DD hh:mm:ss",
// UTC) and runs speed times faster than real time. Sanitizer options in our
// environment pass on. Returns the child's pid.
pid_t launch_velmora(const std::string &binary, const std::string &faketime_library,
                     const std::string &root, const std::string &stderr_path,
                     const std::string &start, double speed);

// Kills a launched velmora and waits for it. libfaketime cleans up its shared
// memory only on a normal exit, so what a killed process leaves is removed here.
void end_velmora(pid_t pid);
