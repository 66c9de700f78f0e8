#pragma once

#include <cstdint>
#include <string>

// Reads a number as the C library's string-to-long conversion does: blanks, a sign, digits up to the
// first other character; no digits give 0. Values beyond 32 bits are held at the limits.
std::int32_t LeadingInteger(const std::string& text);
