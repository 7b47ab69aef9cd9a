#pragma once
// META-INF/encryption.xml, read only for font obfuscation: other encryption is not ours to
// undo, and its entries read as they are.
#include <string>
#include <string_view>
#include <unordered_map>

namespace quirelo {

// Archive entry name -> obfuscation algorithm, for every reference whose method is a font
// obfuscation. A document that does not parse declares nothing.
using ObfuscatedEntries = std::unordered_map<std::string, std::string>;
ObfuscatedEntries parse_font_obfuscation(std::string_view bytes);

}  // namespace quirelo
