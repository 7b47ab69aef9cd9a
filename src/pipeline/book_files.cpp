#include "pipeline/book_files.hpp"

#include <cerrno>
#include <exception>
#include <new>
#include <optional>

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

// Writes output to target and drops it, so that a written book holds no bytes.
std::optional<BookFailure> place(std::optional<std::string>& output, const std::string& target,
                                 const FileWriter& write) {
    if (target.empty() || !output) return std::nullopt;
    const std::string bytes = std::move(*output);
    output.reset();
    // The stream flushes each folder once, after its last file.
    const auto written = write ? write(target, bytes) : write_whole_file(target, bytes, FolderSync::ByCaller);
    if (written) return std::nullopt;
    const int os_error = written.error().os_error;
    return BookFailure{is_output_fault(os_error) ? FailureKind::OutputFault : FailureKind::Write,
                       written.error().message(), os_error, target};
}

}  // namespace

void write_book_files(BookOutcome& outcome, const BookFiles& files, const FileWriter& write) noexcept {
    if (!outcome) return;
    try {
        auto failure = place(outcome->markdown, files.markdown, write);
        if (!failure) failure = place(outcome->text, files.text, write);
        if (failure) outcome = std::unexpected(std::move(*failure));
    } catch (const std::bad_alloc&) {
        outcome = std::unexpected(BookFailure{FailureKind::OutOfMemory, {}});
    } catch (const std::exception& error) {
        outcome = std::unexpected(BookFailure{FailureKind::Internal, error.what()});
    } catch (...) {
        outcome = std::unexpected(BookFailure{FailureKind::Internal, {}});
    }
}

}  // namespace quirelo
