#pragma once
// Choosing the table of contents: the navigation document first, else the NCX the
// spine names. Never fails: whatever cannot be read or parsed is passed over silently.
// Its sources are read to be parsed and dropped, outside the read's budget, so that an
// eager read (items first) and a lazy one (items later, in any order) parse the same
// bytes and give the same table of contents.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/toc.hpp"
#include "reader/package_document.hpp"
#include "reader/read_epub.hpp"
#include "reader/zip_archive.hpp"

namespace quirelo {

// The bytes the read already keeps for the manifest item of that id (an eager read's
// content), parsed instead of inflating the entry again; null when there are none.
using KeptBytes = std::function<const std::string*(std::string_view id)>;

std::vector<TocEntry> read_toc(ZipArchive& archive, const ManifestMap& manifest, std::string_view base,
                               const std::optional<std::string>& spine_toc, const ReadOptions& options,
                               const KeptBytes& kept_bytes = {});

}  // namespace quirelo
