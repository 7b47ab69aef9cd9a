#include "reader/toc_parsing.hpp"

#include "model/epub_vocabulary.hpp"
#include "reader/xml_tree.hpp"

namespace quirelo {

namespace {

// Recursion here is bounded by MAX_TOC_DEPTH, not by the document's depth.
std::vector<TocEntry> parse_nav_list(XmlNode list, std::size_t depth) {
    std::vector<TocEntry> entries;
    if (depth >= MAX_TOC_DEPTH) return entries;
    for (XmlNode li = list.first_child_named("li"); li; li = li.next_sibling_named("li")) {
        TocEntry& entry = entries.emplace_back();
        if (XmlNode link = li.first_child_named("a")) {
            entry.title = all_text(link);
            entry.href = std::string(link.attribute("href").value_or(""));
        } else if (XmlNode label = li.first_child_named("span")) {
            entry.title = all_text(label);
        }
        if (XmlNode nested = li.first_child_named("ol")) entry.children = parse_nav_list(nested, depth + 1);
    }
    return entries;
}

bool has_toc_type(XmlNode element, bool any_namespace) {
    for (const auto& attribute : element.attributes()) {
        if (attribute.local_name != "type" || attribute.value != "toc") continue;
        if (any_namespace || attribute.namespace_uri == OPS_NAMESPACE_URI) return true;
    }
    return false;
}

XmlNode find_toc_nav(const XmlDocument& document, bool any_namespace) {
    const XmlNode top = document.document_node();
    for (XmlNode node = top.next_within(top); node; node = node.next_within(top)) {
        if (node.is_named("nav") && has_toc_type(node, any_namespace)) return node;
    }
    return {};
}

std::vector<TocEntry> parse_nav_points(XmlNode parent, std::size_t depth) {
    std::vector<TocEntry> entries;
    if (depth >= MAX_TOC_DEPTH) return entries;
    for (XmlNode point = parent.first_child_named("navPoint"); point; point = point.next_sibling_named("navPoint")) {
        TocEntry& entry = entries.emplace_back();
        if (XmlNode label = point.first_descendant_named("navLabel")) {
            if (XmlNode text = label.first_descendant_named("text")) entry.title = std::string(child_text(text));
        }
        if (XmlNode content = point.first_descendant_named("content")) {
            entry.href = std::string(content.attribute("src").value_or(""));
        }
        entry.children = parse_nav_points(point, depth + 1);
    }
    return entries;
}

}  // namespace

Result<std::vector<TocEntry>> parse_nav(std::string_view bytes) {
    auto document = parse_xml(bytes);
    if (!document) return std::unexpected(std::move(document.error()));
    XmlNode nav = find_toc_nav(*document, false);
    if (!nav) nav = find_toc_nav(*document, true);
    if (!nav) return std::vector<TocEntry>{};
    XmlNode list = nav.first_child_named("ol");
    if (!list) return std::vector<TocEntry>{};
    return parse_nav_list(list, 0);
}

Result<std::vector<TocEntry>> parse_ncx(std::string_view bytes) {
    auto document = parse_xml(bytes);
    if (!document) return std::unexpected(std::move(document.error()));
    XmlNode nav_map = document->document_node().first_descendant_named("navMap");
    if (!nav_map) return std::vector<TocEntry>{};
    return parse_nav_points(nav_map, 0);
}

}  // namespace quirelo
