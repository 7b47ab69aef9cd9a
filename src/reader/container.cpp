#include "reader/container.hpp"

#include "reader/xml_tree.hpp"

namespace quirelo {

Result<std::string> parse_container(std::string_view bytes) {
    auto document = parse_xml(bytes);
    if (!document) return std::unexpected(std::move(document.error()));
    const XmlNode top = document->document_node();
    for (XmlNode node = top.next_within(top); node; node = node.next_within(top)) {
        if (!node.is_named("rootfile") || node.namespace_uri() != CONTAINER_NAMESPACE_URI) continue;
        if (auto full_path = node.attribute("full-path")) return std::string(*full_path);
    }
    return fail(ErrorKind::NoRootfile);
}

}  // namespace quirelo
