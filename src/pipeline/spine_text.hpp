#pragma once
// The plain text of a book's spine documents, as the package's text command prints it.
#include <string>

#include "model/book.hpp"

namespace quirelo {

// The text of each spine entry whose item is a document, character references decoded
// as HTML decodes them; the non-empty texts joined by a blank line.
std::string spine_text(const Book& book);

// One document item's text as spine_text has it: get_text with references decoded.
std::string document_text(const Item& item);

}  // namespace quirelo
