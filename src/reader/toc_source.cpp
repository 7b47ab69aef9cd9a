#include "reader/toc_source.hpp"

#include "reader/read_entry.hpp"
#include "text/resolve_path.hpp"
#include "reader/toc_parsing.hpp"

namespace quirelo {

namespace {

using TocParser = Result<std::vector<TocEntry>> (*)(std::string_view);

std::optional<std::vector<TocEntry>> read_and_parse(ZipArchive& archive, std::string_view base,
                                                    const ManifestEntry& entry, TocParser parse,
                                                    const KeptBytes& kept_bytes) {
    // Empty kept bytes may stand for an entry the budget refused: read it anyway, so that
    // the result never depends on what the items used.
    const std::string* bytes = kept_bytes ? kept_bytes(entry.id) : nullptr;
    std::expected<std::string, EntryError> read;
    if (bytes == nullptr || bytes->empty()) {
        read = read_entry(archive, resolve_path(base, entry.href), EntryUse::Parsed);
        if (!read) return std::nullopt;
        bytes = &*read;
    }
    auto entries = parse(*bytes);
    if (!entries) return std::nullopt;
    return std::move(*entries);
}

}  // namespace

std::vector<TocEntry> read_toc(ZipArchive& archive, const ManifestMap& manifest, std::string_view base,
                               const std::optional<std::string>& spine_toc, const ReadOptions& options,
                               const KeptBytes& kept_bytes) {
    if (!options.ignore_nav) {
        for (const auto& [id, entry] : manifest) {
            if (!entry.properties || entry.properties->find("nav") == std::string::npos) continue;
            if (auto entries = read_and_parse(archive, base, entry, parse_nav, kept_bytes); entries && !entries->empty()) {
                return std::move(*entries);
            }
            break;  // only the first navigation item is tried
        }
    }
    if (options.ignore_ncx || !spine_toc) return {};
    const ManifestEntry* ncx = manifest.find(*spine_toc);
    if (!ncx) return {};
    return read_and_parse(archive, base, *ncx, parse_ncx, kept_bytes).value_or(std::vector<TocEntry>{});
}

}  // namespace quirelo
