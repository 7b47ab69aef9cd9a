#include "pipeline/convert_book.hpp"

#include <cerrno>
#include <exception>
#include <new>

#include "markdown/markdown.hpp"
#include "model/validate.hpp"
#include "pipeline/spine_text.hpp"
#include "reader/lenient_toc.hpp"
#include "writer/replacing_file.hpp"

namespace quirelo {

bool is_output_fault(int os_error) {
    switch (os_error) {
        case ENOSPC:
        case EDQUOT:
        case EROFS:
        case EIO:
        case ENOENT:   // the output folder went away
        case ENOTDIR:  // ...or is no longer a folder
        case EFBIG:    // the process's file-size limit: every larger file fails alike
            return true;
        default:
            return false;
    }
}

namespace {

// Moves `output` into the file at `target` when there is one; the bytes are freed
// either way once written, so a worker holds one book's output at a time.
std::optional<BookFailure> place_output(std::optional<std::string>& output, const std::string& target,
                                        const FileWriter& write_file) {
    if (target.empty() || !output) return std::nullopt;
    const std::string bytes = std::move(*output);
    output.reset();
    const auto written = write_file ? write_file(target, bytes) : write_whole_file(target, bytes);
    if (written) return std::nullopt;
    const int os_error = written.error().os_error;
    const FailureKind kind = is_output_fault(os_error) ? FailureKind::OutputFault : FailureKind::Write;
    return BookFailure{kind, written.error().message(), os_error, target};
}

BookOutcome convert(const std::string& path, const ConversionOptions& options, const BookFiles& files,
                    const FileWriter& write_file) {
    ReadOptions read = options.read;
    read.lazy = false;
    read.text_items_only = true;
    auto book = read_epub_path(path, read);
    if (!book) return std::unexpected(BookFailure{FailureKind::Read, book.error().message()});
    if (options.lenient_toc && book->toc.empty()) book->toc = lenient_toc(*book, read);
    const OutputSelection& wanted = options.outputs;
    BookOutputs outputs;
    if (wanted.markdown) outputs.markdown = to_markdown(*book);
    if (auto failure = place_output(outputs.markdown, files.markdown, write_file)) return std::unexpected(*failure);
    if (wanted.text) outputs.text = spine_text(*book);
    if (auto failure = place_output(outputs.text, files.text, write_file)) return std::unexpected(*failure);
    if (wanted.summary) outputs.summary = summarize_book(*book);
    if (wanted.issues) outputs.issues = validate_book(*book);
    return outputs;
}

}  // namespace

BookOutcome convert_book(const std::string& path, const ConversionOptions& options, const BookFiles& files,
                         const FileWriter& write_file) noexcept {
    // The message texts are short; should even they not fit, the outcome says so alone.
    try {
        try {
            return convert(path, options, files, write_file);
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
