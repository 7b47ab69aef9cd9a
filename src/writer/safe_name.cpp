#include "writer/safe_name.hpp"

#include <cstddef>
#include <span>

#include "text/unicode_properties.hpp"
#include "text/utf8.hpp"

namespace quirelo {

bool is_safe_name(std::string_view name) {
    std::size_t position = 0;
    while (position < name.size()) {
        const auto byte = static_cast<unsigned char>(name[position]);
        if (byte < 0x80) {
            ++position;
            if (byte == '-' || byte == '.' || byte == ':' || byte == '_') continue;
            if (!is_alphabetic(byte) && !is_numeric(byte)) return false;
            continue;
        }
        // Invalid UTF-8 decodes to U+FFFD, which is neither alphabetic nor numeric.
        const char32_t code = next_code_point(name, position);
        if (!is_alphabetic(code) && !is_numeric(code)) return false;
    }
    return true;
}

namespace {

struct CodeRange {
    char32_t first;
    char32_t last;
};

// XML 1.0 (fifth edition) NameStartChar above ASCII.
constexpr CodeRange NAME_START_RANGES[] = {
    {0xC0, 0xD6},     {0xD8, 0xF6},     {0xF8, 0x2FF},     {0x370, 0x37D},   {0x37F, 0x1FFF},
    {0x200C, 0x200D}, {0x2070, 0x218F}, {0x2C00, 0x2FEF},  {0x3001, 0xD7FF}, {0xF900, 0xFDCF},
    {0xFDF0, 0xFFFD}, {0x10000, 0xEFFFF},
};
// What NameChar adds to them above ASCII.
constexpr CodeRange NAME_EXTRA_RANGES[] = {{0xB7, 0xB7}, {0x300, 0x36F}, {0x203F, 0x2040}};

bool in_ranges(char32_t code, std::span<const CodeRange> ranges) {
    for (const CodeRange& range : ranges) {
        if (code >= range.first && code <= range.last) return true;
    }
    return false;
}

bool is_name_start(char32_t code) {
    if (code < 0x80) return (code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z') || code == '_';
    return in_ranges(code, NAME_START_RANGES);
}

bool is_name_char(char32_t code) {
    if (code < 0x80) return is_name_start(code) || (code >= '0' && code <= '9') || code == '-' || code == '.';
    return in_ranges(code, NAME_START_RANGES) || in_ranges(code, NAME_EXTRA_RANGES);
}

}  // namespace

bool is_xml_ncname(std::string_view name) {
    if (name.empty() || !is_safe_name(name)) return false;
    std::size_t position = 0;
    // A digit of any script may not start a name: XML's fifth edition allows some, expat
    // (whose tables are older) does not, and both must read what is written.
    const char32_t first = next_code_point(name, position);
    if (!is_name_start(first) || is_numeric(first)) return false;
    while (position < name.size()) {
        if (!is_name_char(next_code_point(name, position))) return false;
    }
    return true;
}

}  // namespace quirelo
