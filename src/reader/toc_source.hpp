#pragma once
// Choosing the table of contents: the navigation document first, else the NCX the
// spine names. Never fails: whatever cannot be read or parsed is passed over silently.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/toc.hpp"
#include "reader/package_document.hpp"
#include "reader/read_epub.hpp"
#include "reader/zip_archive.hpp"

namespace quirelo {

std::vector<TocEntry> read_toc(ZipArchive& archive, const ManifestMap& manifest, std::string_view base,
                               const std::optional<std::string>& spine_toc, const ReadOptions& options);

}  // namespace quirelo
