#include "model/error.hpp"

#include <cstring>
#include <string_view>

namespace quirelo {

// The fixed texts of every error. Callers (the Python package, the command line, users'
// scripts and the tests) match these exact texts: change none of them.
std::string EpubError::message() const {
    auto with = [this](std::string_view prefix) {
        std::string text;
        text.reserve(prefix.size() + detail.size());
        text.append(prefix).append(detail);
        return text;
    };
    switch (kind) {
        case ErrorKind::Zip: return with("ZIP error: ");
        case ErrorKind::Xml: return with("XML parsing error: ");
        case ErrorKind::InvalidMimetype: return with("Invalid mimetype: ");
        case ErrorKind::MissingContainer: return "Missing META-INF/container.xml";
        case ErrorKind::NoRootfile: return "No rootfile found in container.xml";
        case ErrorKind::OpfNotFound: return with("OPF file not found in archive: ");
        case ErrorKind::InvalidOpf: return with("Invalid OPF: ");
        case ErrorKind::ItemNotFound: return with("Item not found: ");
        case ErrorKind::Io: return with("IO error: ");
        case ErrorKind::Write: return with("Write error: ");
        case ErrorKind::MissingIdentifier: return "Book must have an identifier set";
        case ErrorKind::MissingTitle: return "Book must have a title set";
        case ErrorKind::MissingLanguage: return "Book must have a language set";
        case ErrorKind::EmptySpine: return "Book must have at least one spine entry";
        case ErrorKind::PoolStart: return with("Failed to build thread pool: ");
        case ErrorKind::OutOfMemory: return "out of memory";
    }
    return with("unknown error: ");
}

EpubError EpubError::io_errno(int error_number) {
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(error_number, buffer, sizeof buffer);
    std::string detail = text;
    detail += " (os error ";
    detail += std::to_string(error_number);
    detail += ')';
    return EpubError{ErrorKind::Io, std::move(detail), error_number};
}

}  // namespace quirelo
