#pragma once
// META-INF/encryption.xml, read only for font obfuscation: other encryption is not ours to
// undo, and its entries read as they are.
#include <string>
#include <string_view>
#include <unordered_map>

namespace quirelo {

inline constexpr std::string_view ENCRYPTION_ENTRY = "META-INF/encryption.xml";
inline constexpr std::string_view XML_ENCRYPTION_NAMESPACE_URI = "http://www.w3.org/2001/04/xmlenc#";

// Archive entry name -> obfuscation algorithm, for every reference whose method is a font
// obfuscation. A document that does not parse declares nothing.
using ObfuscatedEntries = std::unordered_map<std::string, std::string>;
ObfuscatedEntries parse_font_obfuscation(std::string_view bytes);

}  // namespace quirelo
