#include "writer/package_document.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <span>
#include <vector>

#include "model/epub_vocabulary.hpp"
#include "writer/safe_name.hpp"
#include "writer/xml_text.hpp"

namespace quirelo {

namespace {

// Attribute keys written unquoted must be XML names whose prefix the metadata element
// declares (xml, dc, opf); any other key (empty, "2x", "ns:x", "xmlns:x") would leave the
// document ill-formed or rebind a namespace, so it is dropped like an unsafe one.
bool is_writable_key(std::string_view key) {
    const auto colon = key.find(':');
    if (colon == std::string_view::npos) return key != "xmlns" && is_xml_ncname(key);
    const std::string_view prefix = key.substr(0, colon);
    return (prefix == "xml" || prefix == "dc" || prefix == "opf") && is_xml_ncname(key.substr(colon + 1));
}

// Dublin Core names become element names after "dc:".
bool is_writable_dc_name(std::string_view name) { return is_xml_ncname(name); }

bool is_writable_metadata_name(std::string_view name) { return !name.empty() && is_safe_name(name); }

// An EPUB 3 refinement of a Dublin Core element, written after all of them.
struct RefineRecord {
    std::string refined_id;
    std::string_view property;
    std::string_view value;
};

using AttributeEntry = AttributeMap::Entry;

class PackageWriter {
public:
    PackageWriter(const Book& book, std::string& out) : book_(book), out_(out), epub2_(is_epub2_version(book.version)) {}

    void write(bool has_ncx, bool add_nav, std::chrono::system_clock::time_point now) {
        const std::string_view package_uid = find_package_uid();
        out_.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<package xmlns=\"").append(OPF_NAMESPACE_URI);
        out_.append("\" version=\"");
        out_.append(epub2_ ? "2.0" : "3.0");
        out_.append("\" unique-identifier=\"");
        append_xml_attribute(out_, package_uid);
        out_.push_back('"');
        if (!epub2_ && book_.package_prefix) append_attribute("prefix", *book_.package_prefix);
        out_.append(">\n  <metadata xmlns:dc=\"").append(DC_NAMESPACE_URI);
        out_.append("\" xmlns:opf=\"").append(OPF_NAMESPACE_URI).append("\">\n");
        write_dublin_core(package_uid);
        if (!epub2_) {
            write_refinements();
            write_modified_time(now);
        }
        write_package_metas();
        out_.append("  </metadata>\n  <manifest>\n");
        for (const ItemHandle& item : book_.items) write_item(*item);
        if (add_nav) {
            out_.append("    <item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>\n");
        }
        out_.append("  </manifest>\n");
        write_spine(has_ncx);
        out_.append("</package>\n");
    }

private:
    const std::vector<MetadataEntry>* entries(std::string_view name_space, std::string_view name) const {
        return metadata_list(book_, name_space, name);
    }

    std::string_view find_package_uid() const {
        const auto* identifiers = entries(DC_NAMESPACE, "identifier");
        if (identifiers != nullptr && !identifiers->empty()) {
            const std::string* id = identifiers->front().attributes.find("id");
            if (id != nullptr && !id->empty() && is_safe_name(*id)) return *id;
        }
        return "BookId";
    }

    // The entry's attributes in ascending key order, as references to the stored pairs.
    const std::vector<const AttributeEntry*>& sorted_attributes(const MetadataEntry& entry) {
        sorted_.clear();
        for (const AttributeEntry& attribute : entry.attributes) sorted_.push_back(&attribute);
        std::ranges::sort(sorted_, {}, [](const AttributeEntry* attribute) { return std::string_view(attribute->first); });
        return sorted_;
    }

    void append_attribute(std::string_view key, std::string_view value) {
        out_.push_back(' ');
        out_.append(key);
        out_.append("=\"");
        append_xml_attribute(out_, value);
        out_.push_back('"');
    }

    void write_dublin_core(std::string_view package_uid) {
        if (const auto* identifiers = entries(DC_NAMESPACE, "identifier")) {
            bool first = true;
            for (const MetadataEntry& entry : *identifiers) {
                write_dc_element("identifier", entry, first ? std::optional(package_uid) : std::nullopt);
                first = false;
            }
        }
        static constexpr std::string_view FIXED_NAMES[] = {"identifier", "title", "language", "creator"};
        for (std::string_view name : std::span(FIXED_NAMES).subspan(1)) {
            if (const auto* list = entries(DC_NAMESPACE, name)) {
                for (const MetadataEntry& entry : *list) write_dc_element(name, entry, std::nullopt);
            }
        }
        const MetadataNames* names = book_.metadata.find(DC_NAMESPACE);
        if (names == nullptr) return;
        for (const auto& [name, list] : *names) {
            if (std::ranges::find(FIXED_NAMES, std::string_view(name)) != std::end(FIXED_NAMES)) continue;
            if (!is_writable_dc_name(name)) continue;
            for (const MetadataEntry& entry : list) write_dc_element(name, entry, std::nullopt);
        }
    }

    static bool is_refinement_key(std::string_view key) {
        return key == "opf:role" || key == "opf:file-as" || key == "opf:scheme" || key == "opf:event" ||
               key == "opf:display-seq" || key == "opf:group-position";
    }

    void write_dc_element(std::string_view name, const MetadataEntry& entry, std::optional<std::string_view> id_override) {
        std::optional<std::string> element_id;
        if (id_override) {
            element_id.emplace(*id_override);
        } else if (const std::string* own_id = entry.attributes.find("id")) {
            element_id.emplace(*own_id);
        } else if (!epub2_ && std::ranges::any_of(entry.attributes, [](const AttributeEntry& attribute) {
                       return is_refinement_key(attribute.first);
                   })) {
            element_id.emplace("dc-id-" + std::to_string(++generated_ids_));
        }
        out_.append("    <dc:").append(name);
        for (const AttributeEntry* attribute : sorted_attributes(entry)) {
            const std::string_view key = attribute->first;
            if (!is_writable_key(key) || key == "id") continue;
            if (epub2_ || key == "xml:lang" || key == "dir") {
                append_attribute(key, attribute->second);
            } else if (is_refinement_key(key)) {
                refine_records_.push_back({*element_id, key.substr(4), attribute->second});
            }
        }
        if (element_id) append_attribute("id", *element_id);
        out_.push_back('>');
        append_xml_text(out_, entry.value);
        out_.append("</dc:").append(name).append(">\n");
    }

    void write_refinements() {
        for (const RefineRecord& record : refine_records_) {
            out_.append("    <meta refines=\"#");
            append_xml_attribute(out_, record.refined_id);
            out_.append("\" property=\"");
            append_xml_attribute(out_, record.property);
            out_.append("\">");
            append_xml_text(out_, record.value);
            out_.append("</meta>\n");
        }
    }

    void write_modified_time(std::chrono::system_clock::time_point now) {
        const auto* modified = entries(OPF_NAMESPACE, "dcterms:modified");
        if (modified != nullptr && !modified->empty()) return;  // written with the other metas
        out_.append("    <meta property=\"dcterms:modified\">").append(format_modified_time(now)).append("</meta>\n");
    }

    void write_package_metas() {
        const MetadataNames* names = book_.metadata.find(OPF_NAMESPACE);
        if (names == nullptr) return;
        for (const auto& [name, list] : *names) {
            if (!is_writable_metadata_name(name)) continue;
            for (const MetadataEntry& entry : list) write_package_meta(name, entry);
        }
    }

    void write_package_meta(std::string_view name, const MetadataEntry& entry) {
        const AttributeMap& attributes = entry.attributes;
        bool property_form;
        if (attributes.find("property") != nullptr) {
            property_form = true;
        } else if (attributes.find("name") != nullptr || attributes.find("content") != nullptr) {
            property_form = false;
        } else {
            property_form = name.find(':') != std::string_view::npos;
        }
        bool wrote_property = false;
        bool wrote_name = false;
        bool wrote_content = false;
        out_.append("    <meta");
        for (const AttributeEntry* attribute : sorted_attributes(entry)) {
            const std::string_view key = attribute->first;
            if (!is_writable_key(key)) continue;
            append_attribute(key, attribute->second);
            wrote_property |= key == "property";
            wrote_name |= key == "name";
            wrote_content |= key == "content";
        }
        if (property_form) {
            if (!wrote_property) append_attribute("property", name);
            out_.push_back('>');
            append_xml_text(out_, entry.value);
            out_.append("</meta>\n");
        } else {
            if (!wrote_name) append_attribute("name", name);
            if (!wrote_content) append_attribute("content", entry.value);
            out_.append("/>\n");
        }
    }

    void write_item(const Item& item) {
        out_.append("    <item");
        append_attribute("id", item.id);
        append_attribute("href", item.href);
        append_attribute("media-type", item.media_type);
        if (item.properties) {
            append_attribute("properties", *item.properties);
        } else if (item.item_type == ITEM_COVER) {
            out_.append(" properties=\"cover-image\"");
        } else if (is_xhtml_navigation(item)) {
            out_.append(" properties=\"nav\"");
        }
        if (item.media_overlay) append_attribute("media-overlay", *item.media_overlay);
        if (item.fallback) append_attribute("fallback", *item.fallback);
        out_.append("/>\n");
    }

    void write_spine(bool has_ncx) {
        out_.append("  <spine");
        if (has_ncx) {
            const auto ncx = std::ranges::find_if(book_.items, [](const ItemHandle& item) { return item->media_type == NCX_MEDIA_TYPE; });
            if (ncx != book_.items.end()) append_attribute("toc", (*ncx)->id);
        }
        out_.append(">\n");
        for (const SpineEntry& entry : book_.spine) {
            out_.append("    <itemref");
            append_attribute("idref", entry.idref);
            if (!entry.linear) out_.append(" linear=\"no\"");
            if (entry.properties) append_attribute("properties", *entry.properties);
            out_.append("/>\n");
        }
        out_.append("  </spine>\n");
    }

    const Book& book_;
    std::string& out_;
    const bool epub2_;
    unsigned long long generated_ids_ = 0;
    std::vector<RefineRecord> refine_records_;
    std::vector<const AttributeEntry*> sorted_;
};

}  // namespace

bool is_epub2_version(std::string_view version) { return version.starts_with('2'); }

std::string format_modified_time(std::chrono::system_clock::time_point now) {
    using namespace std::chrono;
    const sys_seconds whole = std::max(floor<seconds>(now), sys_seconds{});
    const sys_days day = floor<days>(whole);
    const year_month_day date{day};
    const hh_mm_ss time{whole - day};
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                                     static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                                     static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                                     static_cast<int>(time.seconds().count()));
    return std::string(text, static_cast<std::size_t>(length));
}

std::string generate_opf(const Book& book, bool has_ncx, bool add_nav) {
    return generate_opf(book, has_ncx, add_nav, std::chrono::system_clock::now());
}

std::string generate_opf(const Book& book, bool has_ncx, bool add_nav, std::chrono::system_clock::time_point now) {
    std::string out;
    out.reserve(512 + 120 * book.items.size());
    PackageWriter(book, out).write(has_ncx, add_nav, now);
    return out;
}

}  // namespace quirelo
