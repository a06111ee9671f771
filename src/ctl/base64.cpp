// Base64 (RFC 4648, with padding) both ways.
#include "base64.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of an alphabet character, -1 for any other byte.
int value_of(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string base64_encode(const std::string &bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t group = 0;
        for (size_t j = 0; j < 3; ++j) {
            group <<= 8;
            if (j < n) group |= static_cast<unsigned char>(bytes[i + j]);
        }
        for (size_t j = 0; j < 4; ++j) {
            text += j <= n ? kAlphabet[group >> (18 - 6 * j) & 63] : '=';
        }
    }
    return text;
}

bool base64_decode(const std::string &text, std::string *bytes) {
    if (text.size() % 4 != 0) return false;
    bytes->clear();
    bytes->reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        // Padding only at the end: "xx==" or "xxx=".
        const size_t pad =
            last ? (text[i + 3] == '=') + (text[i + 2] == '=' && text[i + 3] == '=') : 0;
        uint32_t group = 0;
        for (size_t j = 0; j < 4; ++j) {
            const int v = j < 4 - pad ? value_of(text[i + j]) : 0;
            if (v < 0) return false;
            group = group << 6 | static_cast<uint32_t>(v);
        }
        for (size_t j = 0; j < 3 - pad; ++j) *bytes += static_cast<char>(group >> (16 - 8 * j));
    }
    return true;
}
