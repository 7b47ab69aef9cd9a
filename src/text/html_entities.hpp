#pragma once
// The character references of HTML (generated tables) and their decoding: html_unescape
// gives exactly what Python's html.unescape gives for the same text.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quirelo {

namespace html_entities {

struct NamedReference {
    std::string_view name;  // with its ";" where HTML requires one; some legacy names have none
    std::string_view text;  // UTF-8
};
struct NumericReplacement {
    char32_t number;
    char32_t replacement;
};

extern const NamedReference NAMED[];
extern const std::size_t NAMED_SIZE;
extern const NumericReplacement REPLACED[];
extern const std::size_t REPLACED_SIZE;
extern const char32_t DROPPED[];
extern const std::size_t DROPPED_SIZE;

}  // namespace html_entities

// The text of a named reference, looked up with or without its ";" exactly as written.
std::optional<std::string_view> find_named_reference(std::string_view name);

// Decodes every character reference of valid UTF-8 text by HTML's rules: named ones
// (the longest known prefix of a name without ";"), decimal and hexadecimal ones.
std::string html_unescape(std::string_view text);

}  // namespace quirelo
