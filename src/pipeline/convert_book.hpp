#pragma once
// One book from its path to the outputs asked for. Only the entries those outputs need
// are read and inflated: the container, the package document, the navigation document or
// NCX, and the documents; never images, fonts or media.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "pipeline/book_chapters.hpp"
#include "pipeline/book_summary.hpp"
#include "pipeline/markdown_flavor.hpp"
#include "reader/read_epub.hpp"

namespace quirelo {

// Which outputs a conversion makes. New kinds of output are new members here.
struct OutputSelection {
    bool markdown = true;
    bool text = false;
    bool summary = false;
    bool issues = false;
    bool chapters = false;  // one row per spine document, its Markdown in the chosen flavour
};

struct ConversionOptions {
    OutputSelection outputs;
    // The flavour of the book's Markdown, of a Markdown file written, and of the chapters.
    MarkdownFlavor markdown_flavor = MarkdownFlavor::Exact;
    // An empty table of contents is filled by lenient_toc, as the package's reads do.
    bool lenient_toc = true;
    ReadOptions read;  // `lazy` and `text_items_only` are the pipeline's own choice
};

struct BookOutputs {
    std::optional<std::string> markdown;
    std::optional<std::string> text;
    std::optional<BookSummary> summary;
    std::optional<std::vector<std::string>> issues;
    std::optional<std::vector<ChapterRow>> chapters;
};

enum class FailureKind : std::uint8_t {
    Read,         // the reader's error: ValueError in Python
    OutOfMemory,  // MemoryError
    Internal,     // a broken invariant: PanicException
    Write,        // this book's file could not be written (its name, its permissions): OSError
    OutputFault,  // the output as a whole cannot be written (full disk, missing folder): stops the run
};

struct BookFailure {
    FailureKind kind;
    std::string message;
    int os_error = 0;  // Write and OutputFault: the system's error number
    std::string file = {};  // Write and OutputFault: the file that could not be written
};

using BookOutcome = std::expected<BookOutputs, BookFailure>;

// Never throws: every failure of this book is its outcome.
BookOutcome convert_book(const std::string& path, const ConversionOptions& options) noexcept;

}  // namespace quirelo
