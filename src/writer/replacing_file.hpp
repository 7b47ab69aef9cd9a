#pragma once
// A file written beside the file it replaces and put in its place only once whole, so that
// the path always names either the old file or the complete new one, never a part.
#include <string>
#include <string_view>

#include "model/error.hpp"

namespace quirelo {

// Whether committing a file also flushes its folder (so that the new name survives a
// crash), or the caller flushes the folder once after many files (sync_folder_of).
enum class FolderSync { Now, ByCaller };

class ReplacingFile {
public:
    // Opens a new temporary file in the folder of the file that path names (symbolic links
    // followed, so a link keeps pointing where it pointed). The temporary file has the
    // existing file's permission bits, or 0666 less the umask for a new file. A path that
    // names something other than a regular file (a device, a pipe) is written in place.
    static Result<ReplacingFile> open(const std::string& path);
    ReplacingFile(ReplacingFile&& other) noexcept;
    ReplacingFile& operator=(ReplacingFile&&) = delete;
    // Removes the temporary file unless commit succeeded.
    ~ReplacingFile();

    int descriptor() const { return descriptor_; }
    // Flushes the file to disk, drops its pages from the cache and renames it over the
    // target. On failure the temporary file is gone and the target untouched.
    Result<void> commit(FolderSync folder_sync = FolderSync::Now);

private:
    ReplacingFile(std::string target, std::string temporary, int descriptor)
        : target_(std::move(target)), temporary_(std::move(temporary)), descriptor_(descriptor) {}
    void discard();

    std::string target_;
    std::string temporary_;  // empty when writing in place
    int descriptor_;
};

// Writes bytes to the file that path names, whole or not at all, through ReplacingFile.
// The error carries the system's error number (EpubError::os_error).
Result<void> write_whole_file(const std::string& path, std::string_view bytes,
                              FolderSync folder_sync = FolderSync::Now);

// Flushes the folder that holds path, so that names renamed into it survive a crash.
void sync_folder_of(const std::string& path);

}  // namespace quirelo
