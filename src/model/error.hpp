#pragma once
// The one error type of the engine. Core operations return Result<T>; only the
// Python boundary turns an EpubError into an exception.
#include <cstdint>
#include <expected>
#include <string>

namespace quirelo {

enum class ErrorKind : std::uint8_t {
    Zip,
    Xml,
    InvalidMimetype,
    MissingContainer,
    NoRootfile,
    OpfNotFound,
    InvalidOpf,
    ItemNotFound,
    Io,
    Write,
    MissingIdentifier,
    MissingTitle,
    MissingLanguage,
    EmptySpine,
    PoolStart,
    OutOfMemory,  // an allocation failed; Python sees MemoryError
};

struct EpubError {
    ErrorKind kind;
    std::string detail;  // payload text; empty for the fixed-text variants
    int os_error = 0;    // the system's error number (errno) when the system refused, else 0

    // The user-facing text, e.g. "ZIP error: Not a zip archive".
    std::string message() const;

    // "IO error: <strerror> (os error N)".
    static EpubError io_errno(int error_number);
};

template <class T>
using Result = std::expected<T, EpubError>;

inline std::unexpected<EpubError> fail(ErrorKind kind, std::string detail = {}) {
    return std::unexpected(EpubError{kind, std::move(detail)});
}

}  // namespace quirelo
