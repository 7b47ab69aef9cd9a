#pragma once
// One book from its path to the outputs asked for. Only the entries those outputs need
// are read and inflated: the container, the package document, the navigation document or
// NCX, and the documents; never images, fonts or media.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "pipeline/book_summary.hpp"
#include "reader/read_epub.hpp"

namespace quirelo {

struct ConversionOptions {
    bool markdown = true;
    bool text = false;
    bool summary = false;
    bool issues = false;
    // An empty table of contents is filled by lenient_toc, as the package's reads do.
    bool lenient_toc = true;
    ReadOptions read;  // `lazy` and `text_items_only` are the pipeline's own choice
};

struct BookOutputs {
    std::optional<std::string> markdown;
    std::optional<std::string> text;
    std::optional<BookSummary> summary;
    std::optional<std::vector<std::string>> issues;
};

enum class FailureKind : std::uint8_t {
    Read,         // the reader's error: ValueError in Python
    OutOfMemory,  // MemoryError
    Internal,     // a broken invariant: PanicException
};

struct BookFailure {
    FailureKind kind;
    std::string message;
};

using BookOutcome = std::expected<BookOutputs, BookFailure>;

// Never throws: every failure of this book is its outcome.
BookOutcome convert_book(const std::string& path, const ConversionOptions& options) noexcept;

}  // namespace quirelo
