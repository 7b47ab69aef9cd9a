#include "pipeline/convert_book.hpp"

#include <exception>
#include <new>

#include "model/validate.hpp"
#include "pipeline/spine_text.hpp"
#include "reader/lenient_toc.hpp"

namespace quirelo {

namespace {

BookOutcome convert(const std::string& path, const ConversionOptions& options) {
    ReadOptions read = options.read;
    read.lazy = false;
    read.text_items_only = true;
    auto book = read_epub_path(path, read);
    if (!book) return std::unexpected(BookFailure{FailureKind::Read, book.error().message()});
    if (options.lenient_toc && book->toc.empty()) book->toc = lenient_toc(*book, read);
    const OutputSelection& wanted = options.outputs;
    BookOutputs outputs;
    if (wanted.markdown) outputs.markdown = book_markdown(*book, options.markdown_flavor);
    if (wanted.text) outputs.text = spine_text(*book);
    if (wanted.summary) outputs.summary = summarize_book(*book);
    if (wanted.issues) outputs.issues = validate_book(*book);
    if (wanted.chapters) outputs.chapters = book_chapters(*book, options.markdown_flavor);
    return outputs;
}

}  // namespace

BookOutcome convert_book(const std::string& path, const ConversionOptions& options) noexcept {
    // The message texts are short; should even they not fit, the outcome says so alone.
    try {
        try {
            return convert(path, options);
        } catch (const std::bad_alloc&) {
            return std::unexpected(BookFailure{FailureKind::OutOfMemory, {}});
        } catch (const std::exception& error) {
            return std::unexpected(BookFailure{FailureKind::Internal, error.what()});
        } catch (...) {
            return std::unexpected(BookFailure{FailureKind::Internal, {}});
        }
    } catch (...) {
        return std::unexpected(BookFailure{FailureKind::OutOfMemory, {}});
    }
}

}  // namespace quirelo
