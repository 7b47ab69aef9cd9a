#include "pipeline/spine_text.hpp"

#include "markdown/text_extraction.hpp"
#include "text/html_entities.hpp"
#include "text/utf8.hpp"

namespace quirelo {

std::string spine_text(const Book& book) {
    std::string out;
    bool first = true;
    for (const auto& entry : book.spine) {
        const ItemHandle* item = item_with_id(book, entry.idref);
        if (item == nullptr || (*item)->item_type != ITEM_DOCUMENT) continue;
        const auto text = get_text(**item);
        if (!text || text->empty()) continue;
        if (!first) out.append("\n\n");
        first = false;
        // Python would see invalid bytes as U+FFFD before decoding references.
        out.append(is_valid_utf8(*text) ? html_unescape(*text) : html_unescape(decode_utf8_lossy(*text)));
    }
    return out;
}

}  // namespace quirelo
