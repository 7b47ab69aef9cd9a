#include "writer/replacing_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <utility>

namespace quirelo {

namespace {

std::unexpected<EpubError> errno_failure(int error_number) { return std::unexpected(EpubError::io_errno(error_number)); }

std::string folder_of(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The path of the file that path names once symbolic links are followed; a dangling
// link names the file it would create.
Result<std::string> link_target(std::string path) {
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0) {
            if (errno == ENOENT) return path;
            return errno_failure(errno);
        }
        if (!S_ISLNK(status.st_mode)) return path;
        std::string link(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
        if (length < 0) return errno_failure(errno);
        if (static_cast<std::size_t>(length) >= link.size()) return errno_failure(ENAMETOOLONG);
        link.resize(static_cast<std::size_t>(length));
        path = link.starts_with('/') ? std::move(link) : folder_of(path) + "/" + link;
    }
    return errno_failure(ELOOP);
}

int open_retrying(const std::string& path, int flags, mode_t mode) {
    int descriptor;
    do {
        descriptor = ::open(path.c_str(), flags, mode);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

// "." before the base and ".<16 hex digits>.tmp" after it.
constexpr std::size_t TEMPORARY_NAME_EXTRA = 1 + 1 + 16 + 4;

// A fresh name beside target. The base is cut, at a character boundary, so that the
// temporary name stays within NAME_MAX bytes whenever the final name does.
std::string temporary_name(const std::string& target, unsigned attempt) {
    const auto slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string_view base(target);
    base.remove_prefix(slash == std::string::npos ? 0 : slash + 1);
    if (base.size() > NAME_MAX - TEMPORARY_NAME_EXTRA) {
        std::size_t cut = NAME_MAX - TEMPORARY_NAME_EXTRA;
        // Never split a UTF-8 sequence: step back over continuation bytes.
        while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) --cut;
        base = base.substr(0, cut);
    }
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const auto salt = static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(::getpid()) << 32) ^
                      (static_cast<std::uint64_t>(attempt) * 0x9e3779b97f4a7c15ULL);
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(salt));
    std::string name;
    name.reserve(folder.size() + base.size() + TEMPORARY_NAME_EXTRA);
    name.append(folder).append(".").append(base).append(suffix).append(".tmp");
    return name;
}

}  // namespace

Result<ReplacingFile> ReplacingFile::open(const std::string& path) {
    // The C interface would silently stop at the NUL and open another file.
    if (path.find('\0') != std::string::npos) {
        return std::unexpected(EpubError{ErrorKind::Io, "file name contained an unexpected NUL byte"});
    }
    auto target = link_target(path);
    if (!target) return std::unexpected(std::move(target.error()));
    struct stat existing {};
    const bool exists = ::stat(target->c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        // Devices and pipes cannot be replaced by renaming; they are written as they are.
        const int descriptor = open_retrying(*target, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (descriptor < 0) return errno_failure(errno);
        return ReplacingFile(std::move(*target), {}, descriptor);
    }
    // Renaming would replace a file the caller may not write: refuse, as writing in place would.
    if (exists && ::faccessat(AT_FDCWD, target->c_str(), W_OK, AT_EACCESS) != 0) return errno_failure(errno);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = temporary_name(*target, attempt);
        const int descriptor = open_retrying(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0) {
            if (errno == EEXIST) continue;
            return errno_failure(errno);
        }
        ReplacingFile file(std::move(*target), std::move(temporary), descriptor);
        if (exists && ::fchmod(descriptor, existing.st_mode & 07777) != 0) return errno_failure(errno);
        return file;
    }
    return errno_failure(EEXIST);
}

ReplacingFile::ReplacingFile(ReplacingFile&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      descriptor_(std::exchange(other.descriptor_, -1)) {
    other.temporary_.clear();
}

ReplacingFile::~ReplacingFile() { discard(); }

void ReplacingFile::discard() {
    if (descriptor_ >= 0) ::close(std::exchange(descriptor_, -1));
    if (!temporary_.empty()) ::unlink(std::exchange(temporary_, {}).c_str());
}

Result<void> ReplacingFile::commit(FolderSync folder_sync) {
    if (descriptor_ < 0) return errno_failure(EBADF);
    const bool in_place = temporary_.empty();
    if (!in_place && ::fsync(descriptor_) != 0) {
        const int error = errno;
        discard();
        return errno_failure(error);
    }
    // The pages are on the disk now: drop them. Kept, a run of many files fills the cache
    // with pages nobody reads, pushing out what the machine had cached, and each file is
    // copied into memory unused for a while, which on a virtual machine can cost ten times
    // the copy itself; dropped, the pages serve the next file while still warm.
    if (!in_place) ::posix_fadvise(descriptor_, 0, 0, POSIX_FADV_DONTNEED);
    // Linux releases the descriptor even when close reports an error; never retry it.
    if (::close(std::exchange(descriptor_, -1)) != 0 && errno != EINTR) {
        const int error = errno;
        discard();
        return errno_failure(error);
    }
    if (in_place) return {};
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        discard();
        return errno_failure(error);
    }
    temporary_.clear();
    if (folder_sync == FolderSync::Now) sync_folder_of(target_);
    return {};
}

void sync_folder_of(const std::string& path) {
    // The rename itself reaches the disk with the folder; a folder that cannot be synced
    // (some network file systems) still holds the complete file.
    const int folder = open_retrying(folder_of(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

Result<void> write_whole_file(const std::string& path, std::string_view bytes, FolderSync folder_sync) {
    auto file = ReplacingFile::open(path);
    if (!file) return std::unexpected(std::move(file.error()));
    while (!bytes.empty()) {
        const ssize_t written = ::write(file->descriptor(), bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno_failure(errno);  // the temporary file goes with `file`
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return file->commit(folder_sync);
}

}  // namespace quirelo
