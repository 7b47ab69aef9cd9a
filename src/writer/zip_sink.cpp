#include "writer/zip_sink.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace quirelo {

namespace {
constexpr std::size_t GATHER_CAPACITY = 64 * 1024;
}

Result<void> StringSink::write(std::string_view bytes) {
    out_.append(bytes);
    return {};
}

Result<FileSink> FileSink::create(const std::string& path) {
    // The C interface would silently stop at the NUL and open another file.
    if (path.find('\0') != std::string::npos) {
        return std::unexpected(EpubError{ErrorKind::Io, "file name contained an unexpected NUL byte"});
    }
    int descriptor;
    do {
        descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) return std::unexpected(EpubError::io_errno(errno));
    return FileSink(descriptor);
}

FileSink::FileSink(int descriptor) : descriptor_(descriptor) { pending_.reserve(GATHER_CAPACITY); }

FileSink::FileSink(FileSink&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), pending_(std::move(other.pending_)) {}

FileSink::~FileSink() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

Result<void> FileSink::write(std::string_view bytes) {
    if (pending_.size() + bytes.size() <= GATHER_CAPACITY) {
        pending_.append(bytes);
        return {};
    }
    if (auto flushed = flush(); !flushed) return flushed;
    if (bytes.size() < GATHER_CAPACITY) {
        pending_.append(bytes);
        return {};
    }
    return write_all(bytes);
}

Result<void> FileSink::flush() {
    if (pending_.empty()) return {};
    auto written = write_all(pending_);
    pending_.clear();
    return written;
}

Result<void> FileSink::write_all(std::string_view bytes) {
    if (descriptor_ < 0) return std::unexpected(EpubError::io_errno(EBADF));
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor_, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(EpubError::io_errno(errno));
        }
        if (written == 0) return std::unexpected(EpubError::io_errno(EIO));
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

Result<void> FileSink::close() {
    auto flushed = flush();
    const int descriptor = std::exchange(descriptor_, -1);
    if (descriptor < 0) return flushed;
    // Linux releases the descriptor even when close reports an error; never retry it.
    const int closed = ::close(descriptor);
    if (!flushed) return flushed;
    if (closed != 0 && errno != EINTR) return std::unexpected(EpubError::io_errno(errno));
    return {};
}

}  // namespace quirelo
