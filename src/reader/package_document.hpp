#pragma once
// The package document (OPF): version, metadata, manifest and spine.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/book.hpp"
#include "model/error.hpp"
#include "model/metadata.hpp"
#include "model/ordered_map.hpp"

namespace quirelo {


struct ManifestEntry {
    std::string id;
    std::string href;
    std::string media_type;  // empty when the attribute is missing
    std::optional<std::string> properties;
    std::optional<std::string> media_overlay;
    std::optional<std::string> fallback;
};

// Keyed by id, in manifest order. A later item with an id already present replaces the
// earlier one in place: the entry keeps the position where that id first appeared.
using ManifestMap = OrderedMap<ManifestEntry>;

struct PackageDocument {
    std::string version;
    std::optional<std::string> prefix;             // the package element's "prefix" attribute
    std::optional<std::string> unique_identifier;  // ... and its "unique-identifier"
    MetadataStore metadata;
    ManifestMap manifest;
    std::vector<SpineEntry> spine;
    std::optional<std::string> spine_toc;  // the spine's "toc" attribute
};

// Fails with InvalidOpf carrying the parser's message; missing sections are empty.
Result<PackageDocument> parse_package(std::string_view bytes);

}  // namespace quirelo
