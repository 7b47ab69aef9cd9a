#pragma once
// Text inserted into the documents the writer generates.
#include <string>
#include <string_view>

namespace quirelo {

// Appends text escaped by escape_xml, leaving out the characters XML 1.0 does not allow
// anywhere (controls other than tab, line feed and carriage return; U+FFFE, U+FFFF), so
// that any value from the book gives a well-formed document.
void append_xml_text(std::string& out, std::string_view text);

}  // namespace quirelo
