// Formatted input with the rules of scanf's "%d", "%s", whitespace and literal
// directives, read straight from a file descriptor: shared by the settings
// reader and the node readers.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes come from one read() at a time and more are read only when those in
// hand run out, so a node or a settings file that fits the buffer costs a
// single read().
struct ScanInput {
    int fd = -1;
    size_t pos = 0;
    size_t len = 0;
    bool at_end = false;
    char buf[512];
};

// Opens path read-only; false (errno set) when it cannot be opened.
bool scan_open(ScanInput &in, const char *path);
void scan_close(ScanInput &in);
// Skips a run of whitespace, possibly empty (the template's line feed or space).
void scan_space(ScanInput &in);
// Matches text byte for byte; false at the first byte that differs.
bool scan_literal(ScanInput &in, const char *text);
// "%d": whitespace, an optional sign, then digits. False when there is no
// digit, or with errno ERANGE when the number leaves the int32 range.
bool scan_int(ScanInput &in, int32_t *value);
// "%s": whitespace, then a word up to the next whitespace. The whole word is
// consumed; at most size - 1 bytes of it are kept, cut at a UTF-8 character
// boundary. False when no word is there.
bool scan_word(ScanInput &in, char *out, size_t size);

// Writes value in signed decimal at out (room for 11 bytes); returns the end.
char *put_int(char *out, int32_t value);
