#pragma once
// Item-type codes carried by every manifest item.
#include <cstdint>
#include <optional>
#include <string_view>

namespace quirelo {

enum ItemType : std::uint8_t {
    ITEM_OTHER = 0,
    ITEM_IMAGE = 1,
    ITEM_STYLE = 2,
    ITEM_SCRIPT = 3,
    ITEM_NAVIGATION = 4,
    ITEM_VECTOR = 5,
    ITEM_FONT = 6,
    ITEM_VIDEO = 7,
    ITEM_AUDIO = 8,
    ITEM_DOCUMENT = 9,
    ITEM_COVER = 10,
    ITEM_SMIL = 11,
};

inline constexpr std::uint8_t ITEM_TYPE_MAX = ITEM_SMIL;

// The reader's classification from a manifest media type and properties text.
ItemType classify_item_type(std::string_view media_type, std::optional<std::string_view> properties);

// Media type guessed from a file name's extension (the last "." part, case-folded).
std::string_view media_type_for_file_name(std::string_view file_name);

}  // namespace quirelo
