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

// Writes to an open file descriptor it does not own. Small writes are gathered so that
// entry headers do not cost a system call each.
class FileSink final : public ZipSink {
public:
    explicit FileSink(int descriptor);

    Result<void> write(std::string_view bytes) override;
    // Writes what is gathered; the descriptor then holds the whole archive.
    Result<void> flush();

private:
    Result<void> write_all(std::string_view bytes);

    int descriptor_;
    std::string pending_;
};

}  // namespace quirelo
