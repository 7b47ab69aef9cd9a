#include "text/html_entities.hpp"

#include <algorithm>
#include <cstdint>

#include "text/ascii.hpp"
#include "text/utf8.hpp"

namespace quirelo {

namespace {

// A name reference holds at most this many characters before its optional ";".
constexpr std::size_t MAX_REFERENCE_NAME = 32;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool ends_name(char c) {
    return c == '\t' || c == '\n' || c == '\f' || c == ' ' || c == '<' || c == '&' || c == '#' || c == ';';
}

void append_numeric(std::string& out, std::uint32_t number) {
    using namespace html_entities;
    const auto* replaced = std::lower_bound(REPLACED, REPLACED + REPLACED_SIZE, number,
                                            [](const NumericReplacement& entry, std::uint32_t n) { return entry.number < n; });
    if (replaced != REPLACED + REPLACED_SIZE && replaced->number == number) {
        append_code_point(out, replaced->replacement);
        return;
    }
    if ((number >= 0xD800 && number <= 0xDFFF) || number > 0x10FFFF) {
        append_code_point(out, REPLACEMENT_CHARACTER);
        return;
    }
    if (std::binary_search(DROPPED, DROPPED + DROPPED_SIZE, static_cast<char32_t>(number))) return;
    append_code_point(out, static_cast<char32_t>(number));
}

// A numeric reference after "&#" at text[position]; returns the bytes it spans past
// "&#", or 0 when there is none.
std::size_t decode_numeric(std::string_view text, std::size_t position, std::string& out) {
    const bool hexadecimal = position < text.size() && (text[position] == 'x' || text[position] == 'X');
    std::size_t cursor = position + (hexadecimal ? 1 : 0);
    const std::size_t digits_start = cursor;
    std::uint32_t number = 0;
    // Saturates just past the last code point: every larger number decodes alike.
    auto accumulate = [&number](std::uint32_t base, std::uint32_t digit) {
        number = std::min<std::uint32_t>(number * base + digit, 0x110000);
    };
    if (hexadecimal) {
        while (cursor < text.size() && hex_value(text[cursor]) >= 0) accumulate(16, hex_value(text[cursor++]));
    } else {
        while (cursor < text.size() && is_digit(text[cursor])) accumulate(10, text[cursor++] - '0');
    }
    if (cursor == digits_start) return 0;
    if (cursor < text.size() && text[cursor] == ';') ++cursor;
    append_numeric(out, number);
    return cursor - position;
}

// A named reference after "&" at text[position]; returns the bytes it spans past "&", or
// 0 when there is none.
std::size_t decode_named(std::string_view text, std::size_t position, std::string& out) {
    std::size_t cursor = position;
    std::size_t characters = 0;
    std::size_t ascii_prefix = 0;  // leading bytes of the name that are ASCII
    bool ascii_so_far = true;
    while (cursor < text.size() && characters < MAX_REFERENCE_NAME && !ends_name(text[cursor])) {
        std::size_t next = cursor;
        next_code_point(text, next);
        if (ascii_so_far && next == cursor + 1 && static_cast<unsigned char>(text[cursor]) < 0x80) {
            ++ascii_prefix;
        } else {
            ascii_so_far = false;
        }
        cursor = next;
        ++characters;
    }
    if (characters == 0) return 0;
    if (cursor < text.size() && text[cursor] == ';') {
        ++cursor;
        ++characters;
        if (ascii_so_far) ++ascii_prefix;
    }
    const std::string_view name = text.substr(position, cursor - position);
    if (auto found = find_named_reference(name)) {
        out.append(*found);
        return name.size();
    }
    // The longest known prefix, shorter than the whole and at least two characters; only
    // an ASCII prefix can be a known name.
    for (std::size_t length = std::min(characters - 1, ascii_prefix); length >= 2; --length) {
        if (auto found = find_named_reference(name.substr(0, length))) {
            out.append(*found);
            out.append(name.substr(length));
            return name.size();
        }
    }
    out.push_back('&');
    out.append(name);
    return name.size();
}

}  // namespace

std::optional<std::string_view> find_named_reference(std::string_view name) {
    using namespace html_entities;
    const auto* found = std::lower_bound(NAMED, NAMED + NAMED_SIZE, name,
                                         [](const NamedReference& entry, std::string_view n) { return entry.name < n; });
    if (found == NAMED + NAMED_SIZE || found->name != name) return std::nullopt;
    return found->text;
}

std::string html_unescape(std::string_view text) {
    std::size_t ampersand = text.find('&');
    if (ampersand == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    while (ampersand != std::string_view::npos) {
        out.append(text.substr(copied, ampersand - copied));
        const std::size_t after = ampersand + 1;
        std::size_t consumed = 0;
        if (after < text.size() && text[after] == '#') {
            consumed = decode_numeric(text, after + 1, out);
            if (consumed != 0) ++consumed;  // the "#"
        } else {
            consumed = decode_named(text, after, out);
        }
        if (consumed == 0) {
            out.push_back('&');
            copied = after;
        } else {
            copied = after + consumed;
        }
        ampersand = text.find('&', copied);
    }
    out.append(text.substr(copied));
    return out;
}

}  // namespace quirelo
