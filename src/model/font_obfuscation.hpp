#pragma once
// Font obfuscation: a font whose first bytes are mixed with a key made from the book's
// unique identifier, declared in META-INF/encryption.xml. The bytes stay as read; a book
// only has to keep declaring them under the names it writes them to, and to mix them
// again when it is written under another identifier.
#include <optional>
#include <string>
#include <string_view>

namespace quirelo {

inline constexpr std::string_view IDPF_FONT_OBFUSCATION = "http://www.idpf.org/2008/embedding";
inline constexpr std::string_view ADOBE_FONT_OBFUSCATION = "http://ns.adobe.com/pdf/enc#RC";

inline bool is_font_obfuscation(std::string_view algorithm) {
    return algorithm == IDPF_FONT_OBFUSCATION || algorithm == ADOBE_FONT_OBFUSCATION;
}

struct FontObfuscation {
    std::string algorithm;
    std::string identifier;  // the unique identifier whose key mixed the bytes as read

    bool operator==(const FontObfuscation&) const = default;
};

// The bytes of a font obfuscated under `obfuscation`, as they must be for a book whose
// unique identifier is `identifier`; nothing when they need no change, or when either
// identifier gives the algorithm no key (Adobe's needs a UUID).
std::optional<std::string> rekeyed_font(std::string_view bytes, const FontObfuscation& obfuscation,
                                        std::string_view identifier);

}  // namespace quirelo
