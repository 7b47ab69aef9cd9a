#include "model/item_type.hpp"

#include <algorithm>
#include <string>

namespace quirelo {

namespace {

struct MediaTypeRow {
    std::string_view extension;
    std::string_view media_type;
    MediaTypeTable table;
};

struct ItemTypeRow {
    std::string_view text;  // a mark, a media type or a prefix
    ItemType code;
};

constexpr MediaTypeRow MEDIA_TYPES[] = {
#define MEDIA_TYPE(extension, media_type, table) {extension, media_type, MediaTypeTable::table},
#include "model/epub_rules.def"
#undef MEDIA_TYPE
};

constexpr ItemTypeRow MARKS[] = {
#define ITEM_TYPE_MARK(text, code) {text, code},
#include "model/epub_rules.def"
#undef ITEM_TYPE_MARK
};

constexpr ItemTypeRow EXACT_MEDIA_TYPES[] = {
#define ITEM_TYPE_EXACT(media_type, code) {media_type, code},
#include "model/epub_rules.def"
#undef ITEM_TYPE_EXACT
};

constexpr ItemTypeRow MEDIA_TYPE_PREFIXES[] = {
#define ITEM_TYPE_PREFIX(prefix, code) {prefix, code},
#include "model/epub_rules.def"
#undef ITEM_TYPE_PREFIX
};

constexpr std::size_t LONGEST_EXTENSION =
    std::ranges::max(MEDIA_TYPES, {}, [](const MediaTypeRow& row) { return row.extension.size(); }).extension.size();

// Folding A-Z alone matches full Unicode lower-casing only for extensions of lower-case
// ASCII without "k" (KELVIN SIGN lower-cases to "k").
constexpr bool foldable(std::string_view extension) {
    return !extension.empty() && std::ranges::all_of(extension, [](char c) {
        return c != 'k' && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'));
    });
}
static_assert(std::ranges::all_of(MEDIA_TYPES, [](const MediaTypeRow& row) { return foldable(row.extension); }));

}  // namespace

std::string_view item_type_name(std::uint8_t code) {
    constexpr std::string_view NAMES[] = {"other", "image", "style",    "script",   "navigation",   "vector_image",
                                          "font",  "video", "audio",    "document", "cover",        "media_overlay"};
    static_assert(std::size(NAMES) == ITEM_TYPE_MAX + 1);
    return code <= ITEM_TYPE_MAX ? NAMES[code] : NAMES[ITEM_OTHER];
}

std::optional<ItemType> item_type_marked_by(std::string_view properties, MarkOrder order) {
    auto marked = [properties](const ItemTypeRow& mark) { return properties.find(mark.text) != std::string_view::npos; };
    if (order == MarkOrder::COVER_FIRST) {
        for (const ItemTypeRow& mark : MARKS) {
            if (marked(mark)) return mark.code;
        }
    } else {
        for (auto mark = std::rbegin(MARKS); mark != std::rend(MARKS); ++mark) {
            if (marked(*mark)) return mark->code;
        }
    }
    return std::nullopt;
}

ItemType classify_item_type(std::string_view media_type, std::optional<std::string_view> properties) {
    if (properties) {
        if (auto marked = item_type_marked_by(*properties, MarkOrder::COVER_FIRST)) return *marked;
    }
    for (const ItemTypeRow& row : EXACT_MEDIA_TYPES) {
        if (media_type == row.text) return row.code;
    }
    for (const ItemTypeRow& row : MEDIA_TYPE_PREFIXES) {
        if (media_type.starts_with(row.text)) return row.code;
    }
    return ITEM_OTHER;
}

std::string_view media_type_for_file_name(std::string_view file_name, MediaTypeTable table) {
    constexpr std::string_view UNKNOWN = "application/octet-stream";
    auto dot = file_name.rfind('.');
    std::string_view extension = dot == std::string_view::npos ? file_name : file_name.substr(dot + 1);
    if (extension.size() > LONGEST_EXTENSION) return UNKNOWN;
    std::string folded(extension);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    for (const MediaTypeRow& row : MEDIA_TYPES) {
        if (table == MediaTypeTable::COVER && row.table != MediaTypeTable::COVER) continue;
        if (folded == row.extension) return row.media_type;
    }
    return UNKNOWN;
}

}  // namespace quirelo
