#pragma once
// The whole book as one Markdown document, in spine order.
#include <string>
#include <string_view>

#include "model/book.hpp"

namespace quirelo {

std::string to_markdown(const Book& book);

// One document item's content to Markdown (invalid UTF-8 read as U+FFFD first), as
// to_markdown converts each spine document.
std::string document_markdown(const Item& item);

// One document's decoded (valid UTF-8) text to Markdown.
std::string html_to_markdown(std::string_view text);

}  // namespace quirelo
