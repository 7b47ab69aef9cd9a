#include "writer/encryption_document.hpp"

#include <cstddef>
#include <string_view>

#include "model/epub_vocabulary.hpp"
#include "text/ascii.hpp"
#include "writer/xml_text.hpp"

namespace quirelo {

namespace {

// References are URIs: an entry name byte outside the unreserved and path characters is
// written as %XX (a space as %20, a "%" itself as %25).
void append_uri_path(std::string& out, std::string_view name) {
    static constexpr std::string_view KEPT = "-._~/!$&'()*+,;=:@";
    for (const char byte : name) {
        const auto code = static_cast<unsigned char>(byte);
        const bool plain = is_ascii_alnum(code) || KEPT.find(byte) != std::string_view::npos;
        if (plain) {
            out.push_back(byte);
        } else {
            append_hex_escape(out, '%', code);
        }
    }
}

}  // namespace

std::string generate_encryption_document(const Book& book, const std::vector<std::string>& entry_names) {
    std::string out;
    out.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<encryption xmlns=\"").append(CONTAINER_NAMESPACE_URI);
    out.append("\" xmlns:enc=\"").append(XML_ENCRYPTION_NAMESPACE_URI).append("\">\n");
    for (std::size_t i = 0; i < book.items.size(); ++i) {
        const Item& item = *book.items[i];
        if (!item.obfuscation) continue;
        out.append("  <enc:EncryptedData>\n    <enc:EncryptionMethod Algorithm=\"");
        append_xml_attribute(out, item.obfuscation->algorithm);
        out.append("\"/>\n    <enc:CipherData>\n      <enc:CipherReference URI=\"");
        std::string uri;
        append_uri_path(uri, entry_names[i]);
        append_xml_attribute(out, uri);
        out.append("\"/>\n    </enc:CipherData>\n  </enc:EncryptedData>\n");
    }
    out.append("</encryption>\n");
    return out;
}

}  // namespace quirelo
