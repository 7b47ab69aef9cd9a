#pragma once
// Writing a Book as an EPUB archive, to a file or to memory.
#include <string>

#include "model/book.hpp"
#include "model/error.hpp"

namespace quirelo {

// Writes the archive to path (created or truncated only once the book is known to be
// writable).
Result<void> write_epub_file(const Book& book, const std::string& path);

// The whole archive as bytes.
Result<std::string> write_epub_bytes(const Book& book);

}  // namespace quirelo
