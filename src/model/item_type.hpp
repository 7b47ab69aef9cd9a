#pragma once
// Item-type codes carried by every manifest item, and the two rules that give them: the
// classification of a media type and properties, and the media type of a file name. The
// rules themselves are data in model/epub_rules.def, shared with the Python package.
#include <cstdint>
#include <optional>
#include <string_view>

namespace quirelo {

// The same names as the package's ItemType (ITEM_VECTOR_IMAGE is ItemType.VECTOR_IMAGE).
enum ItemType : std::uint8_t {
    ITEM_OTHER = 0,
    ITEM_IMAGE = 1,
    ITEM_STYLE = 2,
    ITEM_SCRIPT = 3,
    ITEM_NAVIGATION = 4,
    ITEM_VECTOR_IMAGE = 5,
    ITEM_FONT = 6,
    ITEM_VIDEO = 7,
    ITEM_AUDIO = 8,
    ITEM_DOCUMENT = 9,
    ITEM_COVER = 10,
    ITEM_MEDIA_OVERLAY = 11,
};

inline constexpr std::uint8_t ITEM_TYPE_MAX = ITEM_MEDIA_OVERLAY;

// The code's name in lower case ("vector_image"), as the package's ItemType names it;
// "other" for a code past ITEM_TYPE_MAX.
std::string_view item_type_name(std::uint8_t code);

// Which mark wins when an item's properties contain both "cover-image" and "nav".
// Both orders are fixed behaviour that callers rely on. The reader puts the cover first:
// a manifest item marked as the cover image is an image whatever else its properties
// say ("nav" is a substring test and also matches inside longer words). An item added
// by the package (add_item_raw) puts the navigation first: a caller that writes "nav"
// is adding the navigation document, and validation looks for exactly that code.
enum class MarkOrder : std::uint8_t { COVER_FIRST, NAVIGATION_FIRST };

// The code that properties mark an item with (ITEM_COVER or ITEM_NAVIGATION), if any.
std::optional<ItemType> item_type_marked_by(std::string_view properties, MarkOrder order);

// The reader's classification from a manifest media type and properties text: the
// properties' mark (cover first), else the media type's code, else ITEM_OTHER.
ItemType classify_item_type(std::string_view media_type, std::optional<std::string_view> properties);

// Which rows of the media-type table a lookup uses: set_cover's fixed table, or the
// package's wider one (every row).
enum class MediaTypeTable : std::uint8_t { COVER, PACKAGE };

// Media type guessed from a file name's extension (the text after the last ".", or the
// whole name when it has none; case-folded); "application/octet-stream" when the
// extension is not in the table. The view points to static storage.
std::string_view media_type_for_file_name(std::string_view file_name, MediaTypeTable table);

}  // namespace quirelo
