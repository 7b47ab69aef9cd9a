#include "reader/zip_archive.hpp"

#include <unistd.h>
#include <zip.h>

#include <cerrno>


namespace quirelo {

namespace {

EpubError zip_failure(zip_error_t& error) {
    // Exhausted memory is reported as such (MemoryError in Python), not as a damaged archive.
    if (zip_error_code_zip(&error) == ZIP_ER_MEMORY) {
        zip_error_fini(&error);
        return EpubError{ErrorKind::OutOfMemory, {}};
    }
    EpubError failure{ErrorKind::Zip, zip_error_strerror(&error)};
    zip_error_fini(&error);
    return failure;
}

EpubError zip_failure(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    return zip_failure(error);
}

// A reader of the archive's bytes that refuses ranges past its end.
template <class Fill>
ArchiveBytes bounded(std::uint64_t size, Fill fill) {
    return [size, fill](std::uint64_t offset, std::uint64_t length, std::string& out) {
        if (offset > size || length > size - offset) return false;
        return fill(offset, length, out);
    };
}

}  // namespace

void ZipArchive::Discard::operator()(zip* archive) const { zip_discard(archive); }

Result<ZipArchive> ZipArchive::open_descriptor(int descriptor, std::uint64_t file_size) {
    // libzip takes an empty file for an empty archive; it is not an archive at all.
    if (file_size == 0) {
        ::close(descriptor);
        return std::unexpected(zip_failure(ZIP_ER_NOZIP));
    }
    // libzip closes the descriptor it is given (keeping a duplicate of its own), so the
    // directory walk below reads through a duplicate of ours.
    struct Closer {
        int descriptor;
        ~Closer() {
            if (descriptor >= 0) ::close(descriptor);
        }
    } scan{::dup(descriptor)};
    if (scan.descriptor < 0) {
        const int error = errno;
        ::close(descriptor);
        return std::unexpected(EpubError::io_errno(error));
    }
    int code = 0;
    zip_t* archive = zip_fdopen(descriptor, ZIP_RDONLY, &code);
    if (!archive) {
        ::close(descriptor);
        return std::unexpected(zip_failure(code));
    }
    ZipArchive opened(archive, file_size);
    opened.places_ = find_entry_places(
        archive, file_size,
        bounded(file_size, [descriptor = scan.descriptor](std::uint64_t offset, std::uint64_t length, std::string& out) {
            bool whole = true;
            out.resize_and_overwrite(length, [&](char* buffer, std::size_t size) {
                std::size_t filled = 0;
                while (filled < size) {
                    const ssize_t got = ::pread(descriptor, buffer + filled, size - filled,
                                                static_cast<off_t>(offset + filled));
                    if (got < 0 && errno == EINTR) continue;
                    if (got <= 0) break;
                    filled += static_cast<std::size_t>(got);
                }
                whole = filled == size;
                return filled;
            });
            return whole;
        }));
    return opened;
}

Result<ZipArchive> ZipArchive::open_memory(std::string_view bytes) {
    if (bytes.empty()) return std::unexpected(zip_failure(ZIP_ER_NOZIP));
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    if (!source) return std::unexpected(zip_failure(error));
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!archive) {
        zip_source_free(source);
        return std::unexpected(zip_failure(error));
    }
    zip_error_fini(&error);
    ZipArchive opened(archive, bytes.size());
    opened.places_ = find_entry_places(
        archive, bytes.size(), bounded(bytes.size(), [bytes](std::uint64_t offset, std::uint64_t length, std::string& out) {
            out.assign(bytes.substr(offset, length));
            return true;
        }));
    return opened;
}

}  // namespace quirelo
