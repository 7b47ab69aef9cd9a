#include "gfm/anchor_name.hpp"

#include "text/ascii.hpp"

namespace quirelo {

std::string document_anchor_name(std::size_t document) { return "d" + std::to_string(document); }

std::string element_anchor_name(std::size_t document, std::string_view id) {
    std::string name = document_anchor_name(document);
    name.reserve(name.size() + 1 + id.size());
    name.push_back('-');
    for (const char c : id) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = is_ascii_alnum(byte) || byte == '-' || byte == '.';
        if (plain) {
            name.push_back(c);
        } else {
            append_hex_escape(name, '_', byte);
        }
    }
    return name;
}

}  // namespace quirelo
