#include "reader/read_book.hpp"

#include <memory>

#include "model/item_type.hpp"
#include "reader/container.hpp"
#include "reader/lazy_content.hpp"
#include "reader/package_document.hpp"
#include "reader/read_entry.hpp"
#include "reader/refinements.hpp"
#include "reader/resolve_path.hpp"
#include "reader/toc_source.hpp"
#include "reader/warning.hpp"
#include "text/unicode_properties.hpp"
#include "text/utf8.hpp"

namespace quirelo {

namespace {

constexpr std::string_view EPUB_MIMETYPE = "application/epub+zip";

// A wrong "mimetype" entry is only worth a warning; an absent or unreadable one, nothing.
// It is read under the same size cap as every other entry: it is meant to hold 20 bytes.
void check_mimetype(ZipArchive& archive) {
    auto bytes = read_entry(archive, "mimetype");
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

bool is_text_item(ItemType type) { return type == ITEM_DOCUMENT || type == ITEM_NAVIGATION; }

ItemHandle make_item(ZipArchive& archive, const ManifestEntry& entry, std::string_view base,
                     const ArchiveImage& shared_image, const std::shared_ptr<LazyArchivePool>& pool,
                     const ReadOptions& options) {
    std::string entry_name = resolve_path(base, entry.href);
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
        item = std::make_shared<Item>(entry.id, entry.href, entry.media_type,
                                      bytes ? std::move(*bytes) : std::string(), type);
    }
    item->properties = entry.properties;
    item->media_overlay = entry.media_overlay;
    item->fallback = entry.fallback;
    return item;
}

}  // namespace

Result<Book> read_book(ZipArchive& archive, const ReadOptions& options, const ArchiveImage& shared_image) {
    check_mimetype(archive);

    std::string opf_path;
    {
        auto container = read_entry(archive, "META-INF/container.xml");
        if (!container) return fail(ErrorKind::MissingContainer);
        auto path = parse_container(*container);
        if (!path) return std::unexpected(std::move(path.error()));
        opf_path = std::move(*path);
    }

    PackageDocument package;
    {
        auto opf = read_entry(archive, opf_path);
        if (!opf) return fail(ErrorKind::OpfNotFound, opf_path);
        auto parsed = parse_package(*opf);
        if (!parsed) return std::unexpected(std::move(parsed.error()));
        package = std::move(*parsed);
    }
    const std::string_view base = base_folder(opf_path);

    std::vector<ItemHandle> items;
    items.reserve(package.manifest.size());
    const auto pool = shared_image ? std::make_shared<LazyArchivePool>(shared_image) : nullptr;
    for (const auto& [id, entry] : package.manifest) {
        items.push_back(make_item(archive, entry, base, shared_image, pool, options));
    }

    std::vector<TocEntry> toc = read_toc(archive, package.manifest, base, package.spine_toc, options);
    fold_refinements(package.metadata);
    return book_from_parts(std::move(package.version), std::move(package.metadata), std::move(items),
                           std::move(package.spine), std::move(toc));
}

}  // namespace quirelo
