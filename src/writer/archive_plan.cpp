#include "writer/archive_plan.hpp"

#include <algorithm>
#include <unordered_set>

#include "text/resolve_path.hpp"
#include "writer/package_document.hpp"
#include "writer/xml_text.hpp"
#include "writer/zip_writer.hpp"

namespace quirelo {

namespace {

Result<void> check_preconditions(const Book& book) {
    for (const RequiredMetadata& required : REQUIRED_METADATA) {
        if (!first_dc_value(book, required.name)) return fail(required.missing);
    }
    if (book.spine.empty()) return fail(ErrorKind::EmptySpine);
    return {};
}

std::unexpected<EpubError> duplicate_name(std::string_view name) {
    std::string detail = "invalid Zip archive: Duplicate filename: ";
    detail += name;
    return fail(ErrorKind::Zip, std::move(detail));
}

// Names and counts an archive without ZIP64 cannot hold, refused before anything is written.
Result<void> check_zip_limits(const ArchivePlan& plan) {
    const std::size_t entries =
        3 + plan.item_entry_names.size() + (plan.add_nav ? 1 : 0) + (plan.has_obfuscated_fonts ? 1 : 0);
    if (entries > ZIP32_MAX_ENTRIES) {
        return fail(ErrorKind::Zip, std::to_string(entries) + " entries do not fit in an archive without ZIP64");
    }
    for (const std::string& name : plan.item_entry_names) {
        if (name.size() > ZIP_MAX_NAME_SIZE) {
            return fail(ErrorKind::Zip, "entry name of " + std::to_string(name.size()) + " bytes is longer than 65535");
        }
    }
    return {};
}

}  // namespace

Result<ArchivePlan> plan_archive(const Book& book) {
    if (auto ready = check_preconditions(book); !ready) return std::unexpected(std::move(ready.error()));

    ArchivePlan plan;
    plan.unique_id = *first_dc_value(book, REQUIRED_METADATA[0].name);
    plan.has_ncx = std::ranges::any_of(book.items, [](const ItemHandle& item) { return item->media_type == NCX_MEDIA_TYPE; });
    const bool has_nav_item =
        std::ranges::any_of(book.items, [](const ItemHandle& item) { return is_xhtml_navigation(*item); });
    plan.add_nav = !is_epub2_version(book.version) && !has_nav_item;

    // The entry is named by the href the manifest line will hold once the characters XML
    // forbids are left out of it, so that a reader finds the entry the manifest names.
    plan.item_entry_names.reserve(book.items.size());
    for (const ItemHandle& item : book.items) {
        const std::string_view href = item->href;
        plan.item_entry_names.push_back(has_xml_forbidden_characters(href)
                                            ? resolve_path(ITEM_BASE, xml_allowed_text(href))
                                            : resolve_path(ITEM_BASE, href));
        plan.has_obfuscated_fonts |= item->obfuscation.has_value();
    }

    // In the order the entries are written, so the name reported is the second comer.
    std::unordered_set<std::string_view> seen;
    seen.reserve(book.items.size() + 4);
    seen.insert(MIMETYPE_ENTRY);
    seen.insert(CONTAINER_ENTRY);
    seen.insert(PACKAGE_ENTRY);
    if (plan.has_obfuscated_fonts) seen.insert(ENCRYPTION_ENTRY);
    for (const std::string& name : plan.item_entry_names) {
        if (!seen.insert(name).second) return duplicate_name(name);
    }
    if (plan.add_nav && seen.contains(NAV_ENTRY)) return duplicate_name(NAV_ENTRY);

    if (auto fits = check_zip_limits(plan); !fits) return std::unexpected(std::move(fits.error()));
    return plan;
}

}  // namespace quirelo
