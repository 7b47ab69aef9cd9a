#include "gfm/yaml_front_matter.hpp"

#include <cstdio>

#include "text/ascii.hpp"
#include "text/utf8.hpp"

namespace quirelo {

void append_yaml_quoted(std::string& out, std::string_view utf8) {
    out.push_back('"');
    std::size_t position = 0;
    while (position < utf8.size()) {
        const std::size_t start = position;
        const char32_t c = next_code_point(utf8, position);
        switch (c) {
            case '"': out.append("\\\""); continue;
            case '\\': out.append("\\\\"); continue;
            case '\n': out.append("\\n"); continue;
            case '\t': out.append("\\t"); continue;
            case '\r': out.append("\\r"); continue;
            case 0x85: out.append("\\N"); continue;
            case 0x2028: out.append("\\L"); continue;
            case 0x2029: out.append("\\P"); continue;
            default: break;
        }
        const bool printable = (c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
                               (c >= 0x10000 && c <= 0x10FFFF);
        if (printable) {
            if (c == REPLACEMENT_CHARACTER) {
                append_code_point(out, c);  // invalid bytes read as U+FFFD
            } else {
                out.append(utf8.substr(start, position - start));
            }
        } else {
            out.append("\\u");
            for (int shift = 12; shift >= 0; shift -= 4) out.push_back(hex_digit(static_cast<unsigned>(c >> shift)));
        }
    }
    out.push_back('"');
}

std::string yaml_front_matter(const Book& book) {
    std::string out = "---\ntitle: ";
    append_yaml_quoted(out, first_dc_value(book, "title").value_or(""));
    out.append("\nauthors:");
    const auto* creators = metadata_list(book, DC_NAMESPACE, "creator");
    if (creators == nullptr || creators->empty()) {
        out.append(" []");
    } else {
        for (const auto& creator : *creators) {
            out.append("\n  - ");
            append_yaml_quoted(out, creator.value);
        }
    }
    out.append("\nlanguage: ");
    append_yaml_quoted(out, first_dc_value(book, "language").value_or(""));
    out.append("\nidentifier: ");
    append_yaml_quoted(out, first_dc_value(book, "identifier").value_or(""));
    out.append("\n---\n");
    return out;
}

}  // namespace quirelo
