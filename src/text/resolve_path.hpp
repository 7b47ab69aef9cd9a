#pragma once
// Manifest hrefs to archive entry names.
#include <string>
#include <string_view>

namespace quirelo {

// Joins href onto the base folder segment by segment: empty and "." segments vanish, ".."
// drops the last kept segment (never climbing above the root). No percent-decoding; a
// fragment or query stays part of the name; a leading "/" does not make it absolute.
std::string resolve_path(std::string_view base, std::string_view href);

// "%XX" (two hexadecimal digits) as the byte it names; any other "%" stays as it is.
std::string percent_decoded(std::string_view uri);

}  // namespace quirelo
