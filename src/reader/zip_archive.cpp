#include "reader/zip_archive.hpp"

#include <unistd.h>
#include <zip.h>

namespace quirelo {

namespace {

EpubError zip_failure(zip_error_t& error) {
    EpubError failure{ErrorKind::Zip, zip_error_strerror(&error)};
    zip_error_fini(&error);
    return failure;
}

EpubError zip_failure(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    return zip_failure(error);
}

}  // namespace

void ZipArchive::Discard::operator()(zip* archive) const { zip_discard(archive); }

Result<ZipArchive> ZipArchive::open_descriptor(int descriptor, std::uint64_t file_size) {
    // libzip takes an empty file for an empty archive; it is not an archive at all.
    if (file_size == 0) {
        ::close(descriptor);
        return std::unexpected(zip_failure(ZIP_ER_NOZIP));
    }
    int code = 0;
    zip_t* archive = zip_fdopen(descriptor, ZIP_RDONLY, &code);
    if (!archive) {
        ::close(descriptor);
        return std::unexpected(zip_failure(code));
    }
    return ZipArchive(archive, file_size);
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
    return ZipArchive(archive, bytes.size());
}

}  // namespace quirelo
