#pragma once
// The whole book as one Markdown document, in spine order.
#include <string>
#include <string_view>

#include "model/book.hpp"

namespace quirelo {

std::string to_markdown(const Book& book);

// One document's decoded (valid UTF-8) text to Markdown.
std::string html_to_markdown(std::string_view text);

}  // namespace quirelo
