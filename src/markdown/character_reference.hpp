#pragma once
// Character references as the Markdown converter decodes them: a fixed table of named
// entities and numeric references; everything else is written back literally.
#include <cstddef>
#include <string>
#include <string_view>

namespace quirelo {

// A reference name is cut off once it has reached this many bytes.
inline constexpr std::size_t MAX_ENTITY_NAME_BYTES = 11;

// Appends what "&name;" becomes: the table entity's text; for another name beginning
// with "#", the referenced character, or nothing when the number is not a Unicode scalar
// value; otherwise "&", the name and ";" literally.
void append_character_reference(std::string& out, std::string_view name);

}  // namespace quirelo
