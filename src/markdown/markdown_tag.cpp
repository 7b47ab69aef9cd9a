#include "markdown/markdown_tag.hpp"

#include <cstddef>

#include "text/utf8_bytes.hpp"
#include "text/unicode_properties.hpp"

namespace quirelo {

namespace {

struct KnownTag {
    std::string_view name;
    MarkdownTag tag;
    int heading_level = 0;
};

constexpr KnownTag KNOWN_TAGS[] = {
    {"h1", MarkdownTag::HEADING, 1},    {"h2", MarkdownTag::HEADING, 2},   {"h3", MarkdownTag::HEADING, 3},
    {"h4", MarkdownTag::HEADING, 4},    {"h5", MarkdownTag::HEADING, 5},   {"h6", MarkdownTag::HEADING, 6},
    {"p", MarkdownTag::PARAGRAPH},      {"div", MarkdownTag::PARAGRAPH},   {"blockquote", MarkdownTag::BLOCKQUOTE},
    {"li", MarkdownTag::LIST_ITEM},     {"br", MarkdownTag::LINE_BREAK},   {"hr", MarkdownTag::RULE},
    {"em", MarkdownTag::EMPHASIS},      {"i", MarkdownTag::EMPHASIS},      {"strong", MarkdownTag::STRONG},
    {"b", MarkdownTag::STRONG},         {"a", MarkdownTag::LINK},
};

// "/blockquote" is the longest name that can match.
constexpr std::size_t MAX_KNOWN_NAME_BYTES = 11;

constexpr char ascii_lower(char byte) { return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte + 32) : byte; }

}  // namespace

std::string_view tag_name_as_written(std::string_view tag_text) {
    std::size_t position = 0;
    while (position < tag_text.size()) {
        const auto byte = static_cast<unsigned char>(tag_text[position]);
        if (byte < 0x80) {
            if (is_ascii_white_space(byte)) break;
            ++position;
            continue;
        }
        if (wide_white_space_length(tag_text.data() + position, tag_text.size() - position) != 0) break;
        ++position;  // continuation bytes follow as non-ASCII bytes of the name
    }
    return tag_text.substr(0, position);
}

// Matching folds ASCII letters on the text as written instead of lower-casing it. Under
// full lower-casing only two non-ASCII characters become ASCII letters: U+0130 gives
// "i" + U+0307 (the combining mark keeps any name from matching), and KELVIN SIGN U+212A
// gives "k", which makes a "blockquote" written with it one; fold it too. Any other
// non-ASCII character stays non-ASCII and cannot be part of a known name.
ClassifiedTag classify_tag_name(std::string_view name) {
    char folded[MAX_KNOWN_NAME_BYTES];
    std::size_t length = 0;
    for (std::size_t position = 0; position < name.size();) {
        if (length == MAX_KNOWN_NAME_BYTES) return {};
        const char byte = name[position];
        if (static_cast<unsigned char>(byte) < 0x80) {
            folded[length++] = ascii_lower(byte);
            ++position;
        } else if (name.substr(position, 3) == "\u212A") {
            folded[length++] = 'k';
            position += 3;
        } else {
            return {};
        }
    }
    std::string_view base(folded, length);
    ClassifiedTag result;
    if (base.starts_with('/')) {
        result.closing = true;
        base.remove_prefix(1);
    }
    // Only the names of these lengths can be known; most tags of real books are not.
    switch (base.size()) {
        case 1: case 2: case 3: case 6: case 10:
            break;
        default:
            return {};
    }
    for (const auto& known : KNOWN_TAGS) {
        if (known.name == base) {
            result.tag = known.tag;
            result.heading_level = known.heading_level;
            return result;
        }
    }
    return {};
}

// Searched on the text as written, ignoring ASCII case: no other character lower-cases
// into these six, and the found position is then directly a position in the text, where
// full lower-casing could change byte lengths before it (U+0130 grows from 2 to 3 bytes).
std::optional<std::string_view> find_href_target(std::string_view tag_text) {
    constexpr std::string_view HREF = "href=\"";
    if (tag_text.size() < HREF.size()) return std::nullopt;
    for (std::size_t start = 0; start + HREF.size() <= tag_text.size(); ++start) {
        std::size_t matched = 0;
        while (matched < HREF.size() && ascii_lower(tag_text[start + matched]) == HREF[matched]) ++matched;
        if (matched < HREF.size()) continue;
        const std::size_t target_start = start + HREF.size();
        const std::size_t quote = tag_text.find('"', target_start);
        if (quote == std::string_view::npos) return std::nullopt;
        return tag_text.substr(target_start, quote - target_start);
    }
    return std::nullopt;
}

}  // namespace quirelo
