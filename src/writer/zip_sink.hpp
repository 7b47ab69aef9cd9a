#pragma once
// Where a written archive goes: a growing byte string or a file written as it is made.
#include <string>
#include <string_view>

#include "model/error.hpp"

namespace quirelo {

class ZipSink {
public:
    virtual ~ZipSink() = default;
    // Appends bytes to the archive; a failure leaves the archive's end unknown.
    virtual Result<void> write(std::string_view bytes) = 0;
};

class StringSink final : public ZipSink {
public:
    explicit StringSink(std::string& out) : out_(out) {}
    Result<void> write(std::string_view bytes) override;

private:
    std::string& out_;
};

// A file created (or truncated) with permission bits 0666 less the umask. Small writes
// are gathered so that entry headers do not cost a system call each.
class FileSink final : public ZipSink {
public:
    static Result<FileSink> create(const std::string& path);
    FileSink(FileSink&& other) noexcept;
    FileSink& operator=(FileSink&&) = delete;
    ~FileSink() override;

    Result<void> write(std::string_view bytes) override;
    // Writes what is gathered and closes the file; the sink is unusable afterwards.
    Result<void> close();

private:
    explicit FileSink(int descriptor);
    Result<void> write_all(std::string_view bytes);
    Result<void> flush();

    int descriptor_;
    std::string pending_;
};

}  // namespace quirelo
