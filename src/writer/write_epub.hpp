#pragma once
// Writing a Book as an EPUB archive, to a file or to memory.
//
// Contract: the book is only read (lazy items are loaded, which changes no result).
// Every refusal (missing identifier, title or language, empty spine, two items sharing
// an archive entry, an archive too large without ZIP64) is decided before any byte is
// written, so a refused file write leaves the path untouched. Failures are EpubError
// values, never exceptions except std::bad_alloc. Several threads may write the same
// book at once as long as none mutates it.
#include <string>

#include "model/book.hpp"
#include "model/error.hpp"

namespace quirelo {

// Writes the archive to a temporary file beside the file path names and renames it over
// that file once whole (see ReplacingFile); a refused book or a failed write leaves the
// disk as it was.
Result<void> write_epub_file(const Book& book, const std::string& path);

// The whole archive as bytes.
Result<std::string> write_epub_bytes(const Book& book);

}  // namespace quirelo
