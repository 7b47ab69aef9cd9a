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

// Calls emit for each run of allowed characters and replace(byte) for each white space
// byte the caller wants written as something else; forbidden characters are skipped.
template <class Emit, class Replace>
void for_each_allowed_run(std::string_view text, bool replace_white_space, Emit&& emit, Replace&& replace) {
    std::size_t run_start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const char byte = text[i];
        const bool white = replace_white_space && (byte == '\t' || byte == '\n' || byte == '\r');
        const std::size_t length = white ? 1 : forbidden_length(text, i);
        if (length == 0) {
            ++i;
            continue;
        }
        emit(text.substr(run_start, i - run_start));
        if (white) replace(byte);
        i += length;
        run_start = i;
    }
    emit(text.substr(run_start));
}

}  // namespace

void append_xml_text(std::string& out, std::string_view text) {
    for_each_allowed_run(text, false, [&](std::string_view run) { escape_xml(out, run); }, [](char) {});
}

void append_xml_attribute(std::string& out, std::string_view text) {
    for_each_allowed_run(
        text, true, [&](std::string_view run) { escape_xml(out, run); },
        [&](char byte) { out.append(byte == '\t' ? "&#9;" : byte == '\n' ? "&#10;" : "&#13;"); });
}

bool has_xml_forbidden_characters(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (forbidden_length(text, i) != 0) return true;
    }
    return false;
}

std::string xml_allowed_text(std::string_view text) {
    std::string kept;
    for_each_allowed_run(text, false, [&](std::string_view run) { kept.append(run); }, [](char) {});
    return kept;
}

}  // namespace quirelo
