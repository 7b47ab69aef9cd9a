#pragma once
// The two table-of-contents documents the writer generates: the EPUB 3 navigation
// document and the EPUB 2 NCX.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "model/book.hpp"
#include "model/toc.hpp"

namespace quirelo {

// Lines deeper than this many two-space steps are written flush left. Indentation grows
// with depth, so a document for a tree thousands of levels deep would otherwise grow
// quadratically, far beyond what an archive can hold; real tables of contents (and all
// that the reader keeps) stay well inside it.
inline constexpr std::size_t MAX_INDENT_STEPS = 256;

// The navigation document for the table of contents (top-level entries).
std::string generate_nav(const std::vector<TocEntry>& toc);

// The NCX for the book's table of contents, its first title and unique_id.
std::string generate_ncx(const Book& book, std::string_view unique_id);

}  // namespace quirelo
