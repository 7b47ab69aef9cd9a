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
        const std::string text = document_text(**item);
        if (text.empty()) continue;
        if (!first) out.append("\n\n");
        first = false;
        out.append(text);
    }
    return out;
}

std::string document_text(const Item& item) {
    const auto text = get_text(item);
    if (!text || text->empty()) return {};
    // Python would see invalid bytes as U+FFFD before decoding references.
    return is_valid_utf8(*text) ? html_unescape(*text) : html_unescape(decode_utf8_lossy(*text));
}

}  // namespace quirelo
