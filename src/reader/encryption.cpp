#include "reader/encryption.hpp"

#include "model/epub_vocabulary.hpp"
#include "model/font_obfuscation.hpp"
#include "reader/xml_tree.hpp"
#include "text/ascii.hpp"
#include "text/resolve_path.hpp"

namespace quirelo {

namespace {

// References are URIs relative to the container root: "%20" names a space.
std::string percent_decoded(std::string_view uri) {
    std::string name;
    name.reserve(uri.size());
    for (std::size_t i = 0; i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size()) {
            const int high = hex_value(uri[i + 1]);
            const int low = hex_value(uri[i + 2]);
            if (high >= 0 && low >= 0) {
                name.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        name.push_back(uri[i]);
    }
    return name;
}

XmlNode first_encryption_child(XmlNode parent, std::string_view name) {
    if (!parent) return {};
    for (XmlNode child = parent.first_child_named(name); child; child = child.next_sibling_named(name)) {
        if (child.namespace_uri() == XML_ENCRYPTION_NAMESPACE_URI) return child;
    }
    return {};
}

}  // namespace

ObfuscatedEntries parse_font_obfuscation(std::string_view bytes) {
    ObfuscatedEntries entries;
    auto document = parse_xml(bytes);
    if (!document) return entries;
    const XmlNode top = document->document_node();
    for (XmlNode node = top.next_within(top); node; node = node.next_within(top)) {
        if (!node.is_named("EncryptedData") || node.namespace_uri() != XML_ENCRYPTION_NAMESPACE_URI) continue;
        const XmlNode method = first_encryption_child(node, "EncryptionMethod");
        const auto algorithm = method ? method.attribute("Algorithm") : std::nullopt;
        if (!algorithm || !is_font_obfuscation(*algorithm)) continue;
        const XmlNode reference = first_encryption_child(first_encryption_child(node, "CipherData"), "CipherReference");
        const auto uri = reference ? reference.attribute("URI") : std::nullopt;
        if (!uri) continue;
        entries.insert_or_assign(resolve_path("", percent_decoded(*uri)), std::string(*algorithm));
    }
    return entries;
}

}  // namespace quirelo
