#include "pipeline/markdown_flavor.hpp"

#include "gfm/gfm_book.hpp"
#include "markdown/markdown.hpp"

namespace quirelo {

std::optional<MarkdownFlavor> markdown_flavor_named(std::string_view name) {
    if (name == "exact") return MarkdownFlavor::Exact;
    if (name == "gfm") return MarkdownFlavor::Gfm;
    return std::nullopt;
}

std::string book_markdown(const Book& book, MarkdownFlavor flavor) {
    return flavor == MarkdownFlavor::Gfm ? to_gfm(book) : to_markdown(book);
}

}  // namespace quirelo
