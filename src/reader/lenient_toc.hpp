#pragma once
// The table of contents the strict reader refuses: a navigation document or NCX written
// as HTML, with a document type declaration and HTML named entities, read after both
// are made XML. The module's reads stay strict; the package fills an empty table of
// contents with this, unless its caller asks for the strict result.
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/book.hpp"
#include "model/toc.hpp"
#include "reader/read_epub.hpp"

namespace quirelo {

struct NavigationDocument {
    std::string_view media_type;
    std::string_view bytes;
};

// The bytes with the document type declaration of the prolog left out and every HTML
// named reference that XML does not know (such as "&nbsp;") written as numeric ones.
std::string xml_from_html_markup(std::string_view bytes);

// The entries of the first navigation document (then of the first NCX) among the book's
// navigation items, in manifest order, read with xml_from_html_markup; the option's
// ignore_nav and ignore_ncx leave a source out as they do in the strict read.
std::vector<TocEntry> lenient_toc(std::span<const NavigationDocument> documents, const ReadOptions& options);
std::vector<TocEntry> lenient_toc(const Book& book, const ReadOptions& options);

}  // namespace quirelo
