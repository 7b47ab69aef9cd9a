#pragma once
// The package document ("EPUB/content.opf") of a written archive.
#include <chrono>
#include <string>
#include <string_view>

#include "model/book.hpp"

namespace quirelo {

// EPUB 2 output is chosen by a version text that begins with "2"; anything else,
// the empty text included, gives EPUB 3.
bool is_epub2_version(std::string_view version);

// The package document for the book. has_ncx names the first NCX item in the spine;
// add_nav announces the generated "nav.xhtml". An EPUB 3 document without its own
// dcterms:modified entry is stamped with the current time.
std::string generate_opf(const Book& book, bool has_ncx, bool add_nav);

// The same, stamped with `now` instead of the clock.
std::string generate_opf(const Book& book, bool has_ncx, bool add_nav, std::chrono::system_clock::time_point now);

// "YYYY-MM-DDThh:mm:ssZ" in UTC, whole seconds; times before 1970 give the epoch.
std::string format_modified_time(std::chrono::system_clock::time_point now);

}  // namespace quirelo
