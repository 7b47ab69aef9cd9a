#pragma once
// Unicode character properties used where text is trimmed, collapsed or vetted.
#include <string_view>

namespace quirelo {

bool is_white_space(char32_t code_point);
bool is_alphabetic(char32_t code_point);
// Decimal digit, letter number or other number.
bool is_numeric(char32_t code_point);

inline bool is_ascii_white_space(unsigned char byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }

// Text without leading and trailing White_Space characters (UTF-8; invalid bytes are kept).
std::string_view trim_white_space(std::string_view text);

}  // namespace quirelo
