#pragma once
// Writing a Book as an EPUB archive, to a file or to memory.
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
