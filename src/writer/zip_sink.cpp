#include "writer/zip_sink.hpp"

#include <unistd.h>

#include <cerrno>

namespace quirelo {

namespace {
constexpr std::size_t GATHER_CAPACITY = 64 * 1024;
}

Result<void> StringSink::write(std::string_view bytes) {
    out_.append(bytes);
    return {};
}

FileSink::FileSink(int descriptor) : descriptor_(descriptor) { pending_.reserve(GATHER_CAPACITY); }

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

}  // namespace quirelo
