#include "writer/write_book.hpp"

#include <optional>
#include <string>

#include "model/epub_vocabulary.hpp"
#include "writer/encryption_document.hpp"
#include "writer/navigation_documents.hpp"
#include "writer/package_document.hpp"
#include "writer/zip_writer.hpp"

namespace quirelo {

const std::string CONTAINER_DOCUMENT = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<container xmlns=\"")
                                             .append(CONTAINER_NAMESPACE_URI)
                                             .append("\" version=\"1.0\">\n  <rootfiles>\n    <rootfile full-path=\"")
                                             .append(PACKAGE_ENTRY)
                                             .append("\" media-type=\"")
                                             .append(PACKAGE_MEDIA_TYPE)
                                             .append("\"/>\n  </rootfiles>\n</container>");

namespace {

Result<void> write_entries(const Book& book, const ArchivePlan& plan, ZipWriter& zip) {
    if (auto done = zip.add_stored(MIMETYPE_ENTRY, EPUB_MIMETYPE); !done) return done;
    if (auto done = zip.add_deflated(CONTAINER_ENTRY, CONTAINER_DOCUMENT); !done) return done;
    if (plan.has_obfuscated_fonts) {
        const std::string encryption = generate_encryption_document(book, plan.item_entry_names);
        if (auto done = zip.add_deflated(ENCRYPTION_ENTRY, encryption); !done) return done;
    }
    if (auto done = zip.add_deflated(PACKAGE_ENTRY, generate_opf(book, plan.has_ncx, plan.add_nav)); !done) {
        return done;
    }
    // Each generated document is made once and reused by every item that needs it.
    std::optional<std::string> ncx;
    std::optional<std::string> nav;
    for (std::size_t i = 0; i < book.items.size(); ++i) {
        const Item& item = *book.items[i];
        std::string_view content = load_content(item);
        if (content.empty()) {
            if (item.media_type == NCX_MEDIA_TYPE) {
                if (!ncx) ncx = generate_ncx(book, plan.unique_id);
                content = *ncx;
            } else if (is_xhtml_navigation(item)) {
                if (!nav) nav = generate_nav(book.toc);
                content = *nav;
            }
        }
        // A font obfuscated under another identifier is mixed again for this book's own.
        std::optional<std::string> rekeyed;
        if (item.obfuscation) rekeyed = rekeyed_font(content, *item.obfuscation, plan.unique_id);
        if (rekeyed) content = *rekeyed;
        if (auto done = zip.add_deflated(plan.item_entry_names[i], content); !done) return done;
    }
    if (plan.add_nav) {
        if (!nav) nav = generate_nav(book.toc);
        if (auto done = zip.add_deflated(NAV_ENTRY, *nav); !done) return done;
    }
    return {};
}

}  // namespace

Result<void> write_book(const Book& book, const ArchivePlan& plan, ZipSink& sink) {
    ZipWriter zip(sink);
    if (auto written = write_entries(book, plan, zip); !written) {
        (void)zip.finish();  // keep what was completed readable; the first error is the one reported
        return written;
    }
    return zip.finish();
}

}  // namespace quirelo
