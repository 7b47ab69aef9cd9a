#pragma once
// The metadata store: namespace key ("DC", "OPF", ...) -> name -> ordered entries.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/ordered_map.hpp"

namespace quirelo {

inline constexpr std::string_view DC_NAMESPACE = "DC";
inline constexpr std::string_view OPF_NAMESPACE = "OPF";

using AttributeMap = OrderedMap<std::string>;

struct MetadataEntry {
    std::string value;
    AttributeMap attributes;

    bool operator==(const MetadataEntry&) const = default;
};

using MetadataNames = OrderedMap<std::vector<MetadataEntry>>;
using MetadataStore = OrderedMap<MetadataNames>;

}  // namespace quirelo
