#pragma once
// ASCII-only character tests for markup and URIs, where the rules are byte rules and
// locale or Unicode case folding would be wrong.

#include <string>

namespace quirelo {

// The value of a hexadecimal digit, or -1 when c is not one.
constexpr int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// An ASCII letter or digit.
constexpr bool is_ascii_alnum(unsigned char c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

// The upper-case hexadecimal digit of the low four bits of value.
constexpr char hex_digit(unsigned value) { return "0123456789ABCDEF"[value & 0xF]; }

// A byte escaped as marker and two upper-case hexadecimal digits ("%2F" in a URI).
inline void append_hex_escape(std::string& out, char marker, unsigned char byte) {
    out.push_back(marker);
    out.push_back(hex_digit(byte >> 4));
    out.push_back(hex_digit(byte));
}

}  // namespace quirelo
