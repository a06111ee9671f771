// What a velmoractl subcommand prints and its exit status: kept whole before
// printing, so that --base64 can encode each stream as one line.
#pragma once

#include <string>

struct CtlOutput {
    int status = 0;  // 0 done, 1 refused or not found, 2 a usage error or bad input
    std::string out, err;
};

// A usage error or bad input: one line on the error stream, status 2.
inline CtlOutput usage_error(const std::string &why) {
    return CtlOutput{2, "", "velmoractl: " + why + "\n"};
}
