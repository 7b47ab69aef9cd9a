#pragma once
// The tags the Markdown converter acts on, recognised from a tag's text as written.
#include <cstdint>
#include <optional>
#include <string_view>

namespace quirelo {

enum class MarkdownTag : std::uint8_t {
    OTHER,  // dropped, the text around it stays
    HEADING,
    PARAGRAPH,  // p and div
    BLOCKQUOTE,
    LIST_ITEM,
    LINE_BREAK,
    RULE,
    EMPHASIS,  // em and i
    STRONG,    // strong and b
    LINK,
};

struct ClassifiedTag {
    MarkdownTag tag = MarkdownTag::OTHER;
    bool closing = false;
    int heading_level = 0;  // 1 to 6 for HEADING
};

// Classifies a tag from its text (between "<" and ">"). Its name is the text up to the
// first White_Space character (none when the text is empty or starts with White_Space);
// names match as they would after full Unicode lower-casing.
ClassifiedTag classify_tag(std::string_view tag_text);

// The raw target of the first `href="` (any case, also at the end of a longer attribute
// name such as data-href) up to the next double quotation mark; nothing when either is
// missing.
std::optional<std::string_view> find_href_target(std::string_view tag_text);

}  // namespace quirelo
