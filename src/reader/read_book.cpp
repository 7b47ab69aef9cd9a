#include "reader/read_book.hpp"

#include <memory>

#include "model/epub_vocabulary.hpp"
#include "model/item_type.hpp"
#include "reader/container.hpp"
#include "reader/encryption.hpp"
#include "reader/lazy_content.hpp"
#include "reader/package_document.hpp"
#include "reader/read_entry.hpp"
#include "reader/refinements.hpp"
#include "text/resolve_path.hpp"
#include "reader/toc_source.hpp"
#include "reader/warning.hpp"
#include "text/unicode_properties.hpp"
#include "text/utf8.hpp"

namespace quirelo {

namespace {

// A wrong "mimetype" entry is only worth a warning; an absent or unreadable one, nothing.
// It is read under the same size cap as every other entry: it is meant to hold 20 bytes.
void check_mimetype(ZipArchive& archive) {
    auto bytes = read_entry(archive, MIMETYPE_ENTRY, EntryUse::Parsed);
    if (!bytes || !is_valid_utf8(*bytes)) return;
    const std::string_view trimmed = trim_white_space(*bytes);
    if (trimmed == EPUB_MIMETYPE) return;
    std::string line = "Warning: mimetype file contains '";
    line += trimmed;
    line += "', expected 'application/epub+zip'\n";
    write_warning_line(line);
}

std::string_view base_folder(std::string_view opf_path) {
    const auto slash = opf_path.rfind('/');
    return slash == std::string_view::npos ? std::string_view{} : opf_path.substr(0, slash + 1);
}

// The value of the identifier the package names as its unique one (else the first); the
// key of obfuscated fonts comes from it.
std::string_view unique_identifier_value(const PackageDocument& package) {
    const auto* identifiers = package.metadata.find(DC_NAMESPACE);
    const auto* list = identifiers != nullptr ? identifiers->find("identifier") : nullptr;
    if (list == nullptr || list->empty()) return {};
    if (package.unique_identifier) {
        for (const MetadataEntry& entry : *list) {
            const std::string* id = entry.attributes.find("id");
            if (id != nullptr && *id == *package.unique_identifier) return entry.value;
        }
    }
    return list->front().value;
}

// Font obfuscation declared by META-INF/encryption.xml; a missing or unreadable one declares none.
ObfuscatedEntries read_obfuscated_entries(ZipArchive& archive) {
    auto bytes = read_entry(archive, ENCRYPTION_ENTRY, EntryUse::Parsed);
    if (!bytes) return {};
    return parse_font_obfuscation(*bytes);
}

bool is_text_item(ItemType type) { return type == ITEM_DOCUMENT || type == ITEM_NAVIGATION; }

ItemHandle make_item(ZipArchive& archive, const ManifestEntry& entry, std::string_view base,
                     const ArchiveImage& shared_image, const std::shared_ptr<LazyArchivePool>& pool,
                     const ObfuscatedEntries& obfuscated, std::string_view unique_identifier,
                     const ReadOptions& options) {
    std::string entry_name = resolve_path(base, entry.href);
    std::optional<FontObfuscation> obfuscation;
    if (const auto found = obfuscated.find(entry_name); found != obfuscated.end()) {
        obfuscation = FontObfuscation{found->second, std::string(unique_identifier)};
    }
    std::optional<std::string_view> properties;
    if (entry.properties) properties = *entry.properties;
    const ItemType type = classify_item_type(entry.media_type, properties);
    std::shared_ptr<Item> item;
    if (shared_image) {
        item = std::make_shared<Item>(entry.id, entry.href, entry.media_type,
                                      make_lazy_source(std::move(entry_name), shared_image, pool), type);
    } else if (options.text_items_only && !is_text_item(type)) {
        item = std::make_shared<Item>(entry.id, entry.href, entry.media_type, std::string(), type);
    } else {
        auto bytes = read_entry(archive, entry_name);
        if (!bytes) warn_over_budget(bytes.error());
        item = std::make_shared<Item>(entry.id, entry.href, entry.media_type,
                                      bytes ? std::move(*bytes) : std::string(), type);
    }
    item->properties = entry.properties;
    item->media_overlay = entry.media_overlay;
    item->fallback = entry.fallback;
    item->obfuscation = std::move(obfuscation);
    return item;
}

}  // namespace

Result<Book> read_book(ZipArchive& archive, const ReadOptions& options, const ArchiveImage& shared_image) {
    check_mimetype(archive);

    std::string opf_path;
    {
        auto container = read_entry(archive, CONTAINER_ENTRY, EntryUse::Parsed);
        if (!container) return fail(ErrorKind::MissingContainer);
        auto path = parse_container(*container);
        if (!path) return std::unexpected(std::move(path.error()));
        opf_path = std::move(*path);
    }

    PackageDocument package;
    {
        auto opf = read_entry(archive, opf_path, EntryUse::Parsed);
        if (!opf) return fail(ErrorKind::OpfNotFound, opf_path);
        auto parsed = parse_package(*opf);
        if (!parsed) return std::unexpected(std::move(parsed.error()));
        package = std::move(*parsed);
    }
    const std::string_view base = base_folder(opf_path);

    std::vector<ItemHandle> items;
    items.reserve(package.manifest.size());
    // Lazy loads draw on this read's budget: the image's, whichever archive serves them.
    const auto pool =
        shared_image ? std::make_shared<LazyArchivePool>(shared_image, archive.shared_budget()) : nullptr;
    const ObfuscatedEntries obfuscated = read_obfuscated_entries(archive);
    const std::string_view unique_id = obfuscated.empty() ? std::string_view{} : unique_identifier_value(package);
    for (const auto& [id, entry] : package.manifest) {
        items.push_back(make_item(archive, entry, base, shared_image, pool, obfuscated, unique_id, options));
    }

    // An eager read has just inflated the navigation document and the NCX as items.
    const auto kept_bytes = [&items](std::string_view id) -> const std::string* {
        for (const ItemHandle& item : items) {
            if (item->id == id) return item->content.is_set() ? &load_content(*item) : nullptr;
        }
        return nullptr;
    };
    std::vector<TocEntry> toc = read_toc(archive, package.manifest, base, package.spine_toc, options, kept_bytes);
    fold_refinements(package.metadata);
    Book book = book_from_parts(std::move(package.version), std::move(package.metadata), std::move(items),
                                std::move(package.spine), std::move(toc));
    book.package_prefix = std::move(package.prefix);
    return book;
}

}  // namespace quirelo
