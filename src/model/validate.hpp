#pragma once
// Findings that make a book a poor or unwritable EPUB; never fails, never changes the book.
#include <string>
#include <vector>

#include "model/book.hpp"

namespace quirelo {

std::vector<std::string> validate_book(const Book& book);

}  // namespace quirelo
