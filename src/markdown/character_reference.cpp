#include "markdown/character_reference.hpp"

#include <cstdint>
#include <optional>

#include "text/ascii.hpp"
#include "text/utf8.hpp"

namespace quirelo {

namespace {

struct NamedEntity {
    std::string_view name;
    std::string_view text;
};

constexpr NamedEntity NAMED_ENTITIES[] = {
    {"lt", "<"},
    {"gt", ">"},
    {"amp", "&"},
    {"quot", "\""},
    {"apos", "'"},
    {"nbsp", " "},
    {"#160", " "},
    {"mdash", "\u2014"},
    {"#8212", "\u2014"},
    {"ndash", "\u2013"},
    {"#8211", "\u2013"},
    {"lsquo", "\u2018"},
    {"#8216", "\u2018"},
    {"rsquo", "\u2019"},
    {"#8217", "\u2019"},
    {"ldquo", "\u201C"},
    {"#8220", "\u201C"},
    {"rdquo", "\u201D"},
    {"#8221", "\u201D"},
    {"hellip", "\u2026"},
    {"#8230", "\u2026"},
};

int digit_value(char digit, unsigned radix) {
    const int value = hex_value(digit);
    return value < static_cast<int>(radix) ? value : -1;
}

// An unsigned 32-bit number: an optional "+", then at least one digit; no "-".
std::optional<std::uint32_t> parse_unsigned_32(std::string_view digits, unsigned radix) {
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char digit : digits) {
        const int next = digit_value(digit, radix);
        if (next < 0) return std::nullopt;
        value = value * radix + static_cast<unsigned>(next);
        if (value > UINT32_MAX) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

bool is_scalar_value(std::uint32_t value) { return value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF); }

}  // namespace

void append_character_reference(std::string& out, std::string_view name) {
    for (const auto& entity : NAMED_ENTITIES) {
        if (entity.name == name) {
            out.append(entity.text);
            return;
        }
    }
    if (name.starts_with('#')) {
        // Only a lower-case "x" selects hexadecimal; "#X41" fails as a decimal number.
        const bool hexadecimal = name.starts_with("#x");
        const auto value = parse_unsigned_32(name.substr(hexadecimal ? 2 : 1), hexadecimal ? 16 : 10);
        if (value && is_scalar_value(*value)) append_code_point(out, *value);
        return;
    }
    out.push_back('&');
    out.append(name);
    out.push_back(';');
}

}  // namespace quirelo
