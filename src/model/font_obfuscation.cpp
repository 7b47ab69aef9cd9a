#include "model/font_obfuscation.hpp"

#include <algorithm>
#include <cstddef>

#include "model/sha1.hpp"
#include "text/ascii.hpp"

namespace quirelo {

namespace {

constexpr std::size_t IDPF_MIXED_BYTES = 1040;
constexpr std::size_t ADOBE_MIXED_BYTES = 1024;

// IDPF: SHA-1 of the identifier without white space. Adobe: the 16 bytes of its UUID.
std::string key_for(std::string_view algorithm, std::string_view identifier) {
    std::string kept;
    for (const char c : identifier) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') kept.push_back(c);
    }
    if (algorithm == IDPF_FONT_OBFUSCATION) {
        const auto digest = sha1(kept);
        return std::string(digest.begin(), digest.end());
    }
    std::string_view uuid = kept;
    if (uuid.starts_with("urn:uuid:")) uuid.remove_prefix(9);
    std::string key;
    int high = -1;
    for (const char c : uuid) {
        if (c == '-') continue;
        const int value = hex_value(c);
        if (value < 0) return {};
        if (high < 0) {
            high = value;
        } else {
            key.push_back(static_cast<char>(high * 16 + value));
            high = -1;
        }
    }
    return key.size() == 16 && high < 0 ? key : std::string();
}

}  // namespace

std::optional<std::string> rekeyed_font(std::string_view bytes, const FontObfuscation& obfuscation,
                                        std::string_view identifier) {
    const std::string old_key = key_for(obfuscation.algorithm, obfuscation.identifier);
    const std::string new_key = key_for(obfuscation.algorithm, identifier);
    if (old_key.empty() || new_key.empty() || old_key == new_key) return std::nullopt;
    const std::size_t mixed = obfuscation.algorithm == IDPF_FONT_OBFUSCATION ? IDPF_MIXED_BYTES : ADOBE_MIXED_BYTES;
    std::string out(bytes);
    for (std::size_t i = 0; i < std::min(mixed, out.size()); ++i) {
        out[i] = static_cast<char>(out[i] ^ old_key[i % old_key.size()] ^ new_key[i % new_key.size()]);
    }
    return out;
}

}  // namespace quirelo
