// Whole decimal numbers: an optional minus sign and digits, within a range.
#include "decimal.h"

bool parse_decimal(std::string_view text, int64_t min, int64_t max, int64_t *value) {
    // A minus sign only where the range has negative numbers: "-0" is no count.
    const bool negative = min < 0 && !text.empty() && text[0] == '-';
    const std::string_view digits = text.substr(negative ? 1 : 0);
    if (digits.empty()) return false;
    // Accumulated as a negative number, whose range reaches INT64_MIN.
    int64_t n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return false;
        const int digit = c - '0';
        if (n < (INT64_MIN + digit) / 10) return false;
        n = n * 10 - digit;
    }
    if (!negative) {
        if (n == INT64_MIN) return false;
        n = -n;
    }
    if (n < min || n > max) return false;
    *value = n;
    return true;
}

size_t decimal_length(std::string_view text) {
    size_t at = !text.empty() && text[0] == '-' ? 1 : 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    return at;
}
