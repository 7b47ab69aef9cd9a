#include "reader/toc_source.hpp"

#include "reader/read_entry.hpp"
#include "text/resolve_path.hpp"
#include "reader/toc_parsing.hpp"

namespace quirelo {

namespace {

using TocParser = Result<std::vector<TocEntry>> (*)(std::string_view);

std::optional<std::vector<TocEntry>> read_and_parse(ZipArchive& archive, std::string_view base,
                                                    const ManifestEntry& entry, TocParser parse) {
    auto bytes = read_entry(archive, resolve_path(base, entry.href));
    if (!bytes) return std::nullopt;
    auto entries = parse(*bytes);
    if (!entries) return std::nullopt;
    return std::move(*entries);
}

}  // namespace

std::vector<TocEntry> read_toc(ZipArchive& archive, const ManifestMap& manifest, std::string_view base,
                               const std::optional<std::string>& spine_toc, const ReadOptions& options) {
    if (!options.ignore_nav) {
        for (const auto& [id, entry] : manifest) {
            if (!entry.properties || entry.properties->find("nav") == std::string::npos) continue;
            if (auto entries = read_and_parse(archive, base, entry, parse_nav); entries && !entries->empty()) {
                return std::move(*entries);
            }
            break;  // only the first navigation item is tried
        }
    }
    if (options.ignore_ncx || !spine_toc) return {};
    const ManifestEntry* ncx = manifest.find(*spine_toc);
    if (!ncx) return {};
    return read_and_parse(archive, base, *ncx, parse_ncx).value_or(std::vector<TocEntry>{});
}

}  // namespace quirelo
