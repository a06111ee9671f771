// scanf's rules for "%d", "%s", whitespace and literals, straight from a descriptor.
#include "scan.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// scanf's whitespace: space, \t, \n, \v, \f, \r.
bool is_space(int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The next byte without consuming it, or -1 at the end of the file.
int peek(ScanInput &in) {
    if (in.pos == in.len) {
        if (in.at_end) return -1;
        ssize_t n;
        do {
            n = read(in.fd, in.buf, sizeof in.buf);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            in.at_end = true;
            return -1;
        }
        in.pos = 0;
        in.len = static_cast<size_t>(n);
    }
    return static_cast<unsigned char>(in.buf[in.pos]);
}

bool is_digit(int c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool scan_open(ScanInput &in, const char *path) {
    in.fd = open(path, O_RDONLY | O_CLOEXEC);
    in.pos = in.len = 0;
    in.at_end = false;
    return in.fd >= 0;
}

void scan_close(ScanInput &in) {
    close(in.fd);
    in.fd = -1;
}

void scan_space(ScanInput &in) {
    while (is_space(peek(in))) ++in.pos;
}

bool scan_literal(ScanInput &in, const char *text) {
    for (; *text != '\0'; ++text) {
        if (peek(in) != static_cast<unsigned char>(*text)) return false;
        ++in.pos;
    }
    return true;
}

bool scan_int(ScanInput &in, int32_t *value) {
    scan_space(in);
    bool negative = false;
    int c = peek(in);
    if (c == '-' || c == '+') {
        negative = c == '-';
        ++in.pos;
        c = peek(in);
    }
    if (!is_digit(c)) return false;
    // Accumulated as a negative number, whose range reaches INT32_MIN, and held
    // just past the limit once beyond it: every digit is consumed, as by scanf.
    const int64_t limit = negative ? int64_t{INT32_MIN} : -int64_t{INT32_MAX};
    int64_t magnitude = 0;
    for (; is_digit(c); c = peek(in)) {
        magnitude = std::max(magnitude * 10 - (c - '0'), limit - 1);
        ++in.pos;
    }
    if (magnitude < limit) {
        errno = ERANGE;
        return false;
    }
    *value = static_cast<int32_t>(negative ? magnitude : -magnitude);
    return true;
}

bool scan_word(ScanInput &in, char *out, size_t size) {
    scan_space(in);
    size_t kept = 0;
    bool cut = false;
    for (int c = peek(in); c >= 0 && !is_space(c); ++in.pos, c = peek(in)) {
        // Once a byte does not fit, no later byte is kept either.
        cut = cut || kept + 1 == size;
        if (!cut) out[kept++] = static_cast<char>(c);
    }
    if (kept == 0) return false;
    if (cut) {
        // Drop the continuation bytes (10xxxxxx) and the lead byte of a
        // character the cut split, so the kept text stays valid UTF-8.
        size_t end = kept;
        while (end > 0 && (static_cast<unsigned char>(out[end - 1]) & 0xC0) == 0x80) --end;
        if (end > 0 && (static_cast<unsigned char>(out[end - 1]) & 0x80) != 0) {
            const unsigned char lead = static_cast<unsigned char>(out[end - 1]);
            const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (kept - (end - 1) < length) kept = end - 1;
        }
    }
    out[kept] = '\0';
    return true;
}

char *put_int(char *out, int32_t value) {
    char digits[10];
    int n = 0;
    // Negative magnitudes, so INT32_MIN needs no special case.
    int32_t rest = value < 0 ? value : -value;
    do {
        digits[n++] = static_cast<char>('0' - rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (value < 0) *out++ = '-';
    while (n > 0) *out++ = digits[--n];
    return out;
}
