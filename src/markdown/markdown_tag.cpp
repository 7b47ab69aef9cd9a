#include "markdown/markdown_tag.hpp"

#include <array>
#include <cstddef>

#include "text/ascii.hpp"
#include "text/utf8_bytes.hpp"
#include "text/unicode_properties.hpp"

namespace quirelo {

namespace {

// "/blockquote" is the longest name that can match.
constexpr std::size_t MAX_KNOWN_NAME_BYTES = 11;


constexpr std::array<bool, 256> STARTS_KNOWN_NAME = [] {
    std::array<bool, 256> table{};
    for (const char letter : std::string_view("abdehilps")) {
        table[static_cast<unsigned char>(letter)] = true;
        table[static_cast<unsigned char>(letter - 'a' + 'A')] = true;
    }
    return table;
}();

constexpr std::string_view KELVIN_SIGN = "\u212A";

// A known base name (lower-case, without "/"), dispatched on its length so that a name is
// compared with few candidates; most tags of real books are not known.
ClassifiedTag known_tag(std::string_view base, bool closing) {
    auto known = [closing](MarkdownTag tag, int heading_level = 0) { return ClassifiedTag{tag, closing, heading_level}; };
    switch (base.size()) {
        case 1:
            switch (base[0]) {
                case 'p': return known(MarkdownTag::PARAGRAPH);
                case 'i': return known(MarkdownTag::EMPHASIS);
                case 'b': return known(MarkdownTag::STRONG);
                case 'a': return known(MarkdownTag::LINK);
                default: return {};
            }
        case 2:
            if (base[0] == 'h' && base[1] >= '1' && base[1] <= '6') return known(MarkdownTag::HEADING, base[1] - '0');
            if (base == "li") return known(MarkdownTag::LIST_ITEM);
            if (base == "br") return known(MarkdownTag::LINE_BREAK);
            if (base == "hr") return known(MarkdownTag::RULE);
            if (base == "em") return known(MarkdownTag::EMPHASIS);
            return {};
        case 3:
            return base == "div" ? known(MarkdownTag::PARAGRAPH) : ClassifiedTag{};
        case 6:
            return base == "strong" ? known(MarkdownTag::STRONG) : ClassifiedTag{};
        case 10:
            return base == "blockquote" ? known(MarkdownTag::BLOCKQUOTE) : ClassifiedTag{};
        default:
            return {};
    }
}

}  // namespace

// Matching folds ASCII letters on the text as written instead of lower-casing it. Under
// full lower-casing only two non-ASCII characters become ASCII letters: U+0130 gives
// "i" + U+0307 (the combining mark keeps any name from matching), and KELVIN SIGN U+212A
// gives "k", which makes a "blockquote" written with it one; fold it too. Any other
// non-ASCII character is either White_Space, which ends the name, or stays non-ASCII and
// keeps the name from being known. Only as many bytes as the longest known name are read.
ClassifiedTag classify_tag(std::string_view tag_text) {
    // Many tags of real books (img, MathML's m-names) already fail on their first letter.
    const std::size_t first_letter = tag_text.starts_with('/') ? 1 : 0;
    if (first_letter == tag_text.size() || !STARTS_KNOWN_NAME[static_cast<unsigned char>(tag_text[first_letter])]) {
        return {};
    }
    char folded[MAX_KNOWN_NAME_BYTES];
    std::size_t length = 0;
    for (std::size_t position = 0; position < tag_text.size();) {
        const char byte = tag_text[position];
        if (static_cast<unsigned char>(byte) < 0x80) {
            if (is_ascii_white_space(static_cast<unsigned char>(byte))) break;
            if (length == MAX_KNOWN_NAME_BYTES) return {};
            folded[length++] = ascii_lower(byte);
            ++position;
        } else if (tag_text.substr(position, KELVIN_SIGN.size()) == KELVIN_SIGN) {
            if (length == MAX_KNOWN_NAME_BYTES) return {};
            folded[length++] = 'k';
            position += KELVIN_SIGN.size();
        } else if (wide_white_space_length(tag_text.data() + position, tag_text.size() - position) != 0) {
            break;
        } else {
            return {};
        }
    }
    std::string_view base(folded, length);
    const bool closing = base.starts_with('/');
    if (closing) base.remove_prefix(1);
    return known_tag(base, closing);
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
