#pragma once
// Plain text of document and navigation items: tags stripped, white space collapsed.
#include <optional>
#include <string>
#include <string_view>

#include "model/item.hpp"

namespace quirelo {

// The text of an item of type 4 or 9; nothing for every other type (content untouched).
std::optional<std::string> get_text(const Item& item);

// Strips tags and collapses White_Space runs of (possibly invalid) UTF-8 bytes.
std::string extract_text(std::string_view bytes);

}  // namespace quirelo
