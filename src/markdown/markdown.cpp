#include "markdown/markdown.hpp"

#include <string_view>

#include "text/utf8.hpp"

namespace quirelo {

namespace {

constexpr std::string_view CHAPTER_SEPARATOR = "\n\n---\n\n";

}  // namespace

std::string document_markdown(const Item& item) {
    const std::string& bytes = load_content(item);
    if (is_valid_utf8(bytes)) return html_to_markdown(bytes);
    return html_to_markdown(decode_utf8_lossy(bytes));
}

std::string to_markdown(const Book& book) {
    const std::string_view title = first_dc_value(book, "title").value_or("Untitled");
    const std::string_view author = first_dc_value(book, "creator").value_or("Unknown");

    // Sized for every document item, spine or not (this loads lazily read documents).
    std::size_t capacity = 256;
    for (const auto& item : book.items) {
        if (item->item_type == ITEM_DOCUMENT) capacity += load_content(*item).size();
    }
    std::string out;
    out.reserve(capacity + title.size() + author.size());
    out.append("# ").append(title).append("\n\n**").append(author).append("**\n\n---\n\n");

    bool contributed = false;
    for (const SpineDocument& document : spine_documents(book)) {
        const std::string chapter = document_markdown(*document.item);
        if (chapter.empty()) continue;
        if (contributed) out.append(CHAPTER_SEPARATOR);
        out.append(chapter);
        contributed = true;
    }
    return out;
}

}  // namespace quirelo
