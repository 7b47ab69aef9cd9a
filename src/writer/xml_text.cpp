#include "writer/xml_text.hpp"

#include <cstddef>

#include "text/xml_escape.hpp"

namespace quirelo {

namespace {

// Byte length of a character XML forbids starting at text[i], or 0.
std::size_t forbidden_length(std::string_view text, std::size_t i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20) return byte == '\t' || byte == '\n' || byte == '\r' ? 0 : 1;
    // U+FFFE and U+FFFF are EF BF BE and EF BF BF.
    if (byte == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBF) {
        const auto last = static_cast<unsigned char>(text[i + 2]);
        if (last == 0xBE || last == 0xBF) return 3;
    }
    return 0;
}

}  // namespace

void append_xml_text(std::string& out, std::string_view text) {
    std::size_t run_start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = forbidden_length(text, i);
        if (length == 0) {
            ++i;
            continue;
        }
        escape_xml(out, text.substr(run_start, i - run_start));
        i += length;
        run_start = i;
    }
    escape_xml(out, text.substr(run_start));
}

}  // namespace quirelo
