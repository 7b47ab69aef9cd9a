#pragma once
// Text inserted into the documents the writer generates.
#include <string>
#include <string_view>

namespace quirelo {

// Appends text escaped by escape_xml, leaving out the characters XML 1.0 does not allow
// anywhere (controls other than tab, line feed and carriage return; U+FFFE, U+FFFF), so
// that any value from the book gives a well-formed document.
void append_xml_text(std::string& out, std::string_view text);

// The same for an attribute value, with tab, line feed and carriage return written as
// character references: a parser turns them into spaces when they stand as themselves.
void append_xml_attribute(std::string& out, std::string_view text);

// Whether text holds a character that append_xml_text leaves out.
bool has_xml_forbidden_characters(std::string_view text);

// The text a parser reads back from append_xml_text or append_xml_attribute: the value
// with the characters XML forbids left out.
std::string xml_allowed_text(std::string_view text);

}  // namespace quirelo
