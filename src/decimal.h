// Whole decimal numbers in the form velmora writes them (its log's numbers,
// velmoractl's records) and its helpers take them as arguments: an optional
// minus sign, then digits, and nothing else: no space, no plus sign.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The number that text is whole, when it lies within min..max; a minus
// sign is refused when min is not negative.
bool parse_decimal(std::string_view text, int64_t min, int64_t max, int64_t *value);

// How many bytes at the start of text such a number could take: a minus
// sign and the digits after it, or the digits alone.
size_t decimal_length(std::string_view text);
