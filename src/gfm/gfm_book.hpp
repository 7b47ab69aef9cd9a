#pragma once
// The structured Markdown flavour (GitHub Flavored Markdown) of a book and of a lone
// document. A book converts in three steps, and the middle one alone sees every document:
//   1. gfm_documents + build_gfm_document: each spine document parsed and built into
//      nodes (independent: one HtmlParser per worker);
//   2. link_gfm_documents (link_documents.hpp): anchors, footnote numbers, image paths;
//   3. render_gfm_document: each document's Markdown (independent again).
// to_gfm runs the three in order on the calling thread and joins the documents.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "gfm/html_parser.hpp"
#include "gfm/link_documents.hpp"
#include "model/book.hpp"

namespace quirelo {

// Empty documents, one per spine document, ready for build_gfm_document.
std::vector<GfmDocument> gfm_documents(const std::vector<SpineDocument>& spine);

// Parses the item's content (invalid UTF-8 read as U+FFFD) and builds its nodes. Throws
// std::bad_alloc when memory runs out, as every other core conversion does.
void build_gfm_document(const Item& item, GfmDocument& document, HtmlParser& parser);
void build_gfm_document(std::string_view bytes, GfmDocument& document, HtmlParser& parser);

std::string render_gfm_document(const GfmDocument& document);

// The whole book: YAML front matter, then every spine document's Markdown that is not
// empty, a thematic break ("***") between documents; ends with a line feed.
std::string to_gfm(const Book& book);

// One document's (possibly invalid UTF-8) bytes on their own: links inside it resolve,
// notes it references become footnotes; no front matter.
std::string html_to_gfm(std::string_view html);
std::string html_to_gfm(std::string_view html, HtmlParser& parser);

}  // namespace quirelo
