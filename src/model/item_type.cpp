#include "model/item_type.hpp"

#include <array>
#include <string>
#include <utility>

namespace quirelo {

ItemType classify_item_type(std::string_view media_type, std::optional<std::string_view> properties) {
    if (properties) {
        if (properties->find("cover-image") != std::string_view::npos) return ITEM_COVER;
        if (properties->find("nav") != std::string_view::npos) return ITEM_NAVIGATION;
    }
    if (media_type == "text/css") return ITEM_STYLE;
    if (media_type == "text/html") return ITEM_DOCUMENT;
    if (media_type == "image/svg+xml") return ITEM_VECTOR;
    if (media_type == "text/javascript") return ITEM_SCRIPT;
    if (media_type == "application/xhtml+xml") return ITEM_DOCUMENT;
    if (media_type == "application/javascript" || media_type == "application/ecmascript") return ITEM_SCRIPT;
    if (media_type == "application/x-dtbncx+xml") return ITEM_NAVIGATION;
    if (media_type.starts_with("image/")) return ITEM_IMAGE;
    if (media_type.starts_with("font/")) return ITEM_FONT;
    if (media_type.starts_with("application/font-")) return ITEM_FONT;
    if (media_type == "application/x-font-ttf" || media_type == "application/x-font-opentype" ||
        media_type == "application/vnd.ms-opentype") {
        return ITEM_FONT;
    }
    if (media_type.starts_with("video/")) return ITEM_VIDEO;
    if (media_type.starts_with("audio/")) return ITEM_AUDIO;
    if (media_type == "application/smil+xml") return ITEM_SMIL;
    return ITEM_OTHER;
}

std::string_view media_type_for_file_name(std::string_view file_name) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 20> by_extension{{
        {"js", "application/javascript"},
        {"htm", "application/xhtml+xml"},
        {"html", "application/xhtml+xml"},
        {"xhtml", "application/xhtml+xml"},
        {"css", "text/css"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"png", "image/png"},
        {"gif", "image/gif"},
        {"svg", "image/svg+xml"},
        {"webp", "image/webp"},
        {"otf", "font/otf"},
        {"ttf", "font/ttf"},
        {"woff", "font/woff"},
        {"woff2", "font/woff2"},
        {"mp3", "audio/mpeg"},
        {"mp4", "video/mp4"},
        {"ncx", "application/x-dtbncx+xml"},
        {"smil", "application/smil+xml"},
        {"", "application/octet-stream"},
    }};
    auto dot = file_name.rfind('.');
    std::string_view extension = dot == std::string_view::npos ? file_name : file_name.substr(dot + 1);
    // Every extension in the table is ASCII, and apart from A-Z the only character whose
    // full lower-case form is ASCII is KELVIN SIGN (to "k"), which no extension holds; so
    // ASCII folding matches exactly the names that full Unicode lower-casing would.
    if (extension.size() > 5) return "application/octet-stream";
    std::string folded(extension);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    for (const auto& [known, media_type] : by_extension) {
        if (!known.empty() && folded == known) return media_type;
    }
    return "application/octet-stream";
}

}  // namespace quirelo
