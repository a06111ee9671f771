// What a velmoractl subcommand prints and its exit status: kept whole before
// printing, so that --base64 can encode each stream as one line.
#pragma once

#include <cstdio>
#include <string>

struct CtlOutput {
    int status = 0;  // 0 done, 1 refused or not found, 2 a usage error or bad input, 3 stale
    std::string out, err;
};

// text with its control bytes escaped ("\x0a"), so that a name the caller
// gave stays within its one line.
inline std::string printable(const std::string &text) {
    std::string out;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[8];
            (void)snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

// velmoractl's one line on its error stream.
inline std::string error_line(const std::string &why) {
    return "velmoractl: " + why + "\n";
}

// A refusal or a failure: that line alone, with the status.
inline CtlOutput failure(int status, const std::string &why) {
    return CtlOutput{status, "", error_line(why)};
}

// A usage error or bad input: one line on the error stream, status 2, even
// when why quotes the caller's arguments.
inline CtlOutput usage_error(const std::string &why) {
    return failure(2, printable(why));
}
