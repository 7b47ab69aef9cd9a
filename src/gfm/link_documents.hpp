#pragma once
// The book-level pass between building and rendering: it reads every document's links,
// anchors and notes and decides, for the book as a whole,
// - which links point into the book: they become "#anchor" links, and the anchors they
//   name are shown (an element's anchor, else the start of its document);
// - which note references point at an EPUB note: those notes get footnote numbers in
//   the order of their first reference, and the references become `[^n]`;
// - where an image's source names an item of the book: the item's own href.
// Building and rendering need nothing from other documents, so both can run on several
// workers; only this pass sees all documents, and it is a walk over links, not text.
#include <span>
#include <string>
#include <string_view>

#include "gfm/gfm_tree.hpp"

namespace quirelo {

struct Book;

struct GfmDocument {
    std::string href;  // the document's href in the manifest (empty: a lone document)
    GfmTree tree;
};

// `book` may be null (a lone document): then only links inside the documents resolve.
void link_gfm_documents(const Book* book, std::span<GfmDocument> documents);

}  // namespace quirelo
