#pragma once
// UTF-8 decoding that never fails: each maximal invalid subpart becomes U+FFFD, the same
// rule as Python's bytes.decode("utf-8", "replace").
#include <cstddef>
#include <string>
#include <string_view>

namespace quirelo {

inline constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

// Decodes the character starting at text[position] and advances position past it (one
// byte at least). Invalid sequences give REPLACEMENT_CHARACTER.
char32_t next_code_point(std::string_view text, std::size_t& position);

bool is_valid_utf8(std::string_view bytes);

// Appends bytes with every invalid sequence replaced by U+FFFD.
void append_utf8_lossy(std::string& out, std::string_view bytes);
std::string decode_utf8_lossy(std::string_view bytes);

void append_code_point(std::string& out, char32_t code_point);

}  // namespace quirelo
