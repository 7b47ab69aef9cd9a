#pragma once
// A converted book's text outputs written to the files its caller named.
#include <functional>
#include <string>
#include <string_view>

#include "pipeline/convert_book.hpp"

namespace quirelo {

// Where a book's text outputs go: an empty path hands the output back in BookOutputs, a
// path has it written there (UTF-8, whole or not at all) and handed back as nothing.
struct BookFiles {
    std::string markdown;
    std::string text;

    bool any() const { return !markdown.empty() || !text.empty(); }
};

// Writes bytes to a path whole or not at all: write_whole_file, or a test's stand-in.
using FileWriter = std::function<Result<void>(const std::string& path, std::string_view bytes)>;

// True for the errors that no other file in the same folder would escape either: the
// disk or quota is full, the file system is read-only or failing, the folder is gone, or
// the process may write no file that large.
bool is_output_fault(int os_error);

// Moves each output that has a file into it (write_whole_file when `write` is empty, its
// folder left for the caller to flush with sync_folder_of).
// A failed write becomes the book's failure: Write for this file alone, OutputFault when
// is_output_fault says every later file would fail too. Never throws.
void write_book_files(BookOutcome& outcome, const BookFiles& files, const FileWriter& write) noexcept;

}  // namespace quirelo
