// Base64 (RFC 4648, with padding), how velmoractl's bytes cross the settings
// page's bridge, which would percent-decode plain text.
#pragma once

#include <string>

std::string base64_encode(const std::string &bytes);
// False for anything but whole padded groups of the standard alphabet.
bool base64_decode(const std::string &text, std::string *bytes);
