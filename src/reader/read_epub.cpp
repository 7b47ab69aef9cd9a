#include "reader/read_epub.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "reader/read_book.hpp"
#include "reader/zip_archive.hpp"

namespace quirelo {

namespace {

class Descriptor {
public:
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    int get() const { return descriptor_; }
    int release() { return std::exchange(descriptor_, -1); }

private:
    int descriptor_;
};

struct OpenedFile {
    int descriptor;
    std::uint64_t size;
};

// Opens a regular file for reading (a directory is refused as the system would on read).
Result<OpenedFile> open_file(const std::string& path) {
    if (path.find('\0') != std::string::npos) {
        return fail(ErrorKind::Io, "file name contained an unexpected NUL byte");
    }
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return std::unexpected(EpubError::io_errno(errno));
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) return std::unexpected(EpubError::io_errno(errno));
    if (S_ISDIR(status.st_mode)) return std::unexpected(EpubError::io_errno(EISDIR));
    const std::uint64_t size = S_ISREG(status.st_mode) ? static_cast<std::uint64_t>(status.st_size) : 0;
    return OpenedFile{file.release(), size};
}

// The whole file, read until end of file (the reported size is only the first guess).
Result<std::string> read_whole_file(const std::string& path) {
    auto opened = open_file(path);
    if (!opened) return std::unexpected(std::move(opened.error()));
    Descriptor file(opened->descriptor);
    std::string image;
    std::size_t filled = 0;
    std::size_t capacity = std::max<std::uint64_t>(opened->size, 4096);
    while (true) {
        int error = 0;
        bool at_end = false;
        image.resize_and_overwrite(capacity, [&](char* buffer, std::size_t size) {
            while (filled < size) {
                const ssize_t got = ::read(file.get(), buffer + filled, size - filled);
                if (got < 0) {
                    if (errno == EINTR) continue;
                    error = errno;
                    break;
                }
                if (got == 0) {
                    at_end = true;
                    break;
                }
                filled += static_cast<std::size_t>(got);
            }
            return filled;
        });
        if (error != 0) return std::unexpected(EpubError::io_errno(error));
        if (at_end) return image;
        // Full: the file was longer than reported, or the size is still unknown.
        capacity *= 2;
    }
}

Result<Book> read_image(ArchiveImage image, const ReadOptions& options) {
    auto archive = ZipArchive::open_memory(*image);
    if (!archive) return std::unexpected(std::move(archive.error()));
    return read_book(*archive, options, image);
}

}  // namespace

Result<Book> read_epub_path(const std::string& path, const ReadOptions& options) {
    if (options.lazy) {
        // The file's bytes become the shared image directly, without a second copy.
        auto image = read_whole_file(path);
        if (!image) return std::unexpected(std::move(image.error()));
        return read_image(std::make_shared<const std::string>(std::move(*image)), options);
    }
    auto opened = open_file(path);
    if (!opened) return std::unexpected(std::move(opened.error()));
    auto archive = ZipArchive::open_descriptor(opened->descriptor, opened->size);
    if (!archive) return std::unexpected(std::move(archive.error()));
    return read_book(*archive, options, nullptr);
}

Result<Book> read_epub_bytes(std::string_view data, const ReadOptions& options) {
    if (options.lazy) return read_image(std::make_shared<const std::string>(data), options);
    auto archive = ZipArchive::open_memory(data);
    if (!archive) return std::unexpected(std::move(archive.error()));
    return read_book(*archive, options, nullptr);
}

}  // namespace quirelo
