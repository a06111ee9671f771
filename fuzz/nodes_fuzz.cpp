// Both node readers on arbitrary node contents, read_int against strtoll.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "fuzz_tree.h"
#include "nodes.h"

namespace {

constexpr char kNode[] = "node";

// What "%d" gives for text, or 0 where it finds no number in the int32 range.
int32_t expected_int(const std::string &text) {
    const char *start = text.c_str();
    while (*start == ' ' || (*start >= '\t' && *start <= '\r')) ++start;
    const char *digits = start + (*start == '+' || *start == '-');
    if (!isdigit(static_cast<unsigned char>(*digits))) return 0;
    errno = 0;
    const long long value = strtoll(start, nullptr, 10);
    return errno == 0 && value >= INT32_MIN && value <= INT32_MAX ? static_cast<int32_t>(value) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    enter_temp_tree();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    put_file(kNode, data, size);
    // Text up to the first NUL: the number and the word end there in both readers.
    const std::string text(reinterpret_cast<const char *>(data),
                           strnlen(reinterpret_cast<const char *>(data), size));
    if (read_int(kNode) != expected_int(text)) abort();
    const char *token = read_char(kNode);
    if (strlen(token) > 23) abort();  // a NUL in the node may end it early, as with scanf
    if (token != read_date_char && strcmp(token, "0") != 0) abort();
    return 0;
}
