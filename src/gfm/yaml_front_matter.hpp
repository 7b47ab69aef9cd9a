#pragma once
// The YAML front matter that opens a book's GFM: title, authors, language, identifier,
// every value a double-quoted YAML scalar, so no title can break out of it.
#include <string>
#include <string_view>

#include "model/book.hpp"

namespace quirelo {

// "---\ntitle: ...\nauthors: ...\nlanguage: ...\nidentifier: ...\n---\n"; an absent
// value is "" (authors: []).
std::string yaml_front_matter(const Book& book);

// Appends text as a double-quoted YAML scalar (escaping quotes, backslashes and every
// character YAML does not print as itself).
void append_yaml_quoted(std::string& out, std::string_view utf8);

}  // namespace quirelo
