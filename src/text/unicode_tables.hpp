#pragma once
// Sorted, merged code point ranges generated from the Unicode character database.
#include <cstddef>

namespace quirelo::unicode_tables {

struct CodeRange {
    char32_t first;
    char32_t last;
};

extern const CodeRange WHITE_SPACE[];
extern const std::size_t WHITE_SPACE_SIZE;
extern const CodeRange ALPHABETIC[];
extern const std::size_t ALPHABETIC_SIZE;
// General categories Nd, Nl and No.
extern const CodeRange NUMERIC[];
extern const std::size_t NUMERIC_SIZE;

}  // namespace quirelo::unicode_tables
