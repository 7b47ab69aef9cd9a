#pragma once
// Names that may be written unquoted into generated markup (element names, attribute keys).
#include <string_view>

namespace quirelo {

// True when every character is a Unicode letter or digit (Alphabetic, or a numeric
// general category) or one of "-", ".", ":", "_". The empty string passes; callers that
// need a non-empty name test that themselves.
bool is_safe_name(std::string_view name);

// A safe name that is also an XML name without a colon (an NCName): it starts with a
// letter or "_" and holds only XML name characters, so it can stand as an element name
// or as either half of a prefixed attribute name.
bool is_xml_ncname(std::string_view name);

}  // namespace quirelo
