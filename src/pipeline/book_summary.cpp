#include "pipeline/book_summary.hpp"

namespace quirelo {

namespace {

std::optional<std::string> first_value(const Book& book, std::string_view name) {
    const auto value = first_dc_value(book, name);
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

}  // namespace

BookSummary summarize_book(const Book& book) {
    BookSummary summary;
    summary.identifier = first_value(book, "identifier");
    summary.title = first_value(book, "title");
    summary.language = first_value(book, "language");
    if (const auto* creators = metadata_list(book, DC_NAMESPACE, "creator")) {
        summary.authors.reserve(creators->size());
        for (const auto& creator : *creators) summary.authors.push_back(creator.value);
    }
    summary.items = book.items.size();
    for (const auto& item : book.items) {
        if (item->item_type <= ITEM_TYPE_MAX) ++summary.items_by_type[item->item_type];
    }
    summary.spine_length = book.spine.size();
    summary.toc_size = count_toc_entries(book.toc);
    return summary;
}

}  // namespace quirelo
