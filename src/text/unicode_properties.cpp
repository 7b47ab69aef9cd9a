#include "text/unicode_properties.hpp"

#include <algorithm>
#include <cstddef>

#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"

namespace quirelo {

namespace {
using unicode_tables::CodeRange;

bool in_ranges(const CodeRange* ranges, std::size_t size, char32_t code_point) {
    const CodeRange* end = ranges + size;
    const CodeRange* found =
        std::upper_bound(ranges, end, code_point, [](char32_t code, const CodeRange& range) { return code < range.first; });
    return found != ranges && code_point <= (found - 1)->last;
}

// Byte length of the White_Space character at the start (0 when there is none).
std::size_t white_space_prefix(std::string_view text) {
    std::size_t position = 0;
    const char32_t code = next_code_point(text, position);
    return code != REPLACEMENT_CHARACTER && is_white_space(code) ? position : 0;
}
}  // namespace

bool is_white_space(char32_t code_point) {
    if (code_point < 0x80) return is_ascii_white_space(static_cast<unsigned char>(code_point));
    return in_ranges(unicode_tables::WHITE_SPACE, unicode_tables::WHITE_SPACE_SIZE, code_point);
}

bool is_alphabetic(char32_t code_point) {
    if (code_point < 0x80) {
        return (code_point | 0x20) >= 'a' && (code_point | 0x20) <= 'z';
    }
    return in_ranges(unicode_tables::ALPHABETIC, unicode_tables::ALPHABETIC_SIZE, code_point);
}

bool is_numeric(char32_t code_point) {
    if (code_point < 0x80) return code_point >= '0' && code_point <= '9';
    return in_ranges(unicode_tables::NUMERIC, unicode_tables::NUMERIC_SIZE, code_point);
}

std::string_view trim_white_space(std::string_view text) {
    while (!text.empty()) {
        const std::size_t length = white_space_prefix(text);
        if (length == 0) break;
        text.remove_prefix(length);
    }
    while (!text.empty()) {
        // Step back to the start of the last character.
        std::size_t start = text.size() - 1;
        while (start > 0 && text.size() - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        std::size_t position = start;
        const char32_t code = next_code_point(text, position);
        if (position != text.size() || code == REPLACEMENT_CHARACTER || !is_white_space(code)) break;
        text.remove_suffix(text.size() - start);
    }
    return text;
}

}  // namespace quirelo
