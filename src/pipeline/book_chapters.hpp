#pragma once
// One row per spine document, for datasets whose unit is the chapter rather than the book.
#include <cstddef>
#include <string>
#include <vector>

#include "model/book.hpp"
#include "pipeline/markdown_flavor.hpp"

namespace quirelo {

struct ChapterRow {
    std::size_t position = 0;  // the entry's 0-based index in the spine
    std::string name;          // the document item's href
    std::string toc_title;     // the first table-of-contents entry (depth first) pointing at it; "" if none
    std::string markdown;      // exact: html_to_markdown of the document; gfm: its part of to_gfm
    std::string text;          // the document's plain text, as the book's text output has it
    std::size_t word_count = 0;  // runs of characters other than Unicode White_Space in `text`
    std::string content_hash;  // 40 lower-case hex digits: SHA-1 of `text` (UTF-8)
};

// Every spine entry naming a document item (the documents to_markdown converts), in spine
// order, empty documents included. GFM anchors and footnote numbers are the book's, so
// each chapter's Markdown is exactly its part of to_gfm.
std::vector<ChapterRow> book_chapters(const Book& book, MarkdownFlavor flavor);

}  // namespace quirelo
