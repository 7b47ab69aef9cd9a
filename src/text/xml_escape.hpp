#pragma once
// Escaping of text for generated XML.
#include <string>
#include <string_view>

namespace quirelo {

// Appends text with &, <, >, " and ' replaced by their entities; all else is copied.
void escape_xml(std::string& out, std::string_view text);

}  // namespace quirelo
