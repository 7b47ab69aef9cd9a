#include "reader/encryption.hpp"

#include "model/epub_vocabulary.hpp"
#include "model/font_obfuscation.hpp"
#include "reader/xml_tree.hpp"
#include "text/resolve_path.hpp"

namespace quirelo {

namespace {

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
        // References are URIs relative to the container root: "%20" names a space.
        entries.insert_or_assign(resolve_path("", percent_decoded(*uri)), std::string(*algorithm));
    }
    return entries;
}

}  // namespace quirelo
