#include "reader/package_document.hpp"

#include "model/epub_vocabulary.hpp"
#include "reader/xml_tree.hpp"

namespace quirelo {

namespace {

std::optional<std::string> optional_text(std::optional<std::string_view> value) {
    if (!value) return std::nullopt;
    return std::string(*value);
}

// Attribute keys: plain local name, or "xml:", "opf:" or "ns:" before it by namespace.
AttributeMap attribute_map(XmlNode element) {
    AttributeMap map;
    const auto attributes = element.attributes();
    map.reserve(attributes.size());
    std::string key;
    for (const auto& attribute : attributes) {
        key.clear();
        if (!attribute.namespace_uri.empty()) {
            if (attribute.namespace_uri == XML_NAMESPACE_URI) {
                key = "xml:";
            } else if (attribute.namespace_uri == OPF_NAMESPACE_URI) {
                key = "opf:";
            } else {
                key = "ns:";
            }
        }
        key += attribute.local_name;
        map.insert_or_assign(key, std::string(attribute.value));
    }
    return map;
}

void append_entry(MetadataStore& store, std::string_view group, std::string_view name, std::string_view value,
                  AttributeMap attributes) {
    store.get_or_insert(group).get_or_insert(name).push_back({std::string(value), std::move(attributes)});
}

void read_metadata(XmlNode metadata, MetadataStore& store) {
    for (XmlNode element = metadata.first_child(); element; element = element.next_sibling()) {
        if (!element.is_element()) continue;
        if (element.namespace_uri() == DC_NAMESPACE_URI) {
            append_entry(store, DC_NAMESPACE, element.local_name(), first_text(element), attribute_map(element));
            continue;
        }
        if (element.local_name() != "meta") continue;
        if (auto property = element.attribute("property")) {
            std::string_view value = first_text(element);
            if (value.empty()) value = element.attribute("content").value_or(std::string_view{});
            append_entry(store, OPF_NAMESPACE, *property, value, attribute_map(element));
            continue;
        }
        auto name = element.attribute("name");
        auto content = element.attribute("content");
        if (name && content) append_entry(store, OPF_NAMESPACE, *name, *content, attribute_map(element));
    }
}

void read_manifest(XmlNode manifest, ManifestMap& map) {
    for (XmlNode item = manifest.first_child_named("item"); item; item = item.next_sibling_named("item")) {
        auto id = item.attribute("id");
        auto href = item.attribute("href");
        if (!id || !href) continue;
        map.insert_or_assign(*id, ManifestEntry{
                                      .id = std::string(*id),
                                      .href = std::string(*href),
                                      .media_type = std::string(item.attribute("media-type").value_or("")),
                                      .properties = optional_text(item.attribute("properties")),
                                      .media_overlay = optional_text(item.attribute("media-overlay")),
                                      .fallback = optional_text(item.attribute("fallback")),
                                  });
    }
}

void read_spine(XmlNode spine, PackageDocument& package) {
    package.spine_toc = optional_text(spine.attribute("toc"));
    for (XmlNode itemref = spine.first_child_named("itemref"); itemref;
         itemref = itemref.next_sibling_named("itemref")) {
        auto idref = itemref.attribute("idref");
        if (!idref) continue;
        package.spine.push_back({.idref = std::string(*idref),
                                 .properties = optional_text(itemref.attribute("properties")),
                                 .linear = itemref.attribute("linear") != std::optional<std::string_view>("no")});
    }
}

}  // namespace

Result<PackageDocument> parse_package(std::string_view bytes) {
    auto document = parse_xml(bytes);
    // A package document that is not XML is reported as an invalid package.
    if (!document) return fail(ErrorKind::InvalidOpf, std::move(document.error().detail));
    const XmlNode root = document->root_element();

    PackageDocument package;
    package.version = std::string(root.attribute("version").value_or("3.0"));
    package.prefix = optional_text(root.attribute("prefix"));
    package.unique_identifier = optional_text(root.attribute("unique-identifier"));
    if (XmlNode metadata = root.first_child_named("metadata")) read_metadata(metadata, package.metadata);
    if (XmlNode manifest = root.first_child_named("manifest")) read_manifest(manifest, package.manifest);
    if (XmlNode spine = root.first_child_named("spine")) read_spine(spine, package);
    return package;
}

}  // namespace quirelo
