#pragma once
// The metadata summary a dataset row stores for one book.
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "model/book.hpp"
#include "model/item_type.hpp"

namespace quirelo {

struct BookSummary {
    // The first Dublin Core value of each, when the book has one.
    std::optional<std::string> identifier;
    std::optional<std::string> title;
    std::optional<std::string> language;
    std::vector<std::string> authors;  // every DC creator value, in order
    std::size_t items = 0;
    std::array<std::size_t, ITEM_TYPE_MAX + 1> items_by_type{};  // indexed by item-type code
    std::size_t spine_length = 0;
    std::size_t toc_size = 0;  // entries at every level
};

BookSummary summarize_book(const Book& book);

}  // namespace quirelo
