#pragma once
// The parse-back oracle of the GFM tests: our Markdown read by cmark-gfm (tables and
// footnotes on) against the nodes it was rendered from, as a block outline and a text.
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "gfm/gfm_tree.hpp"

namespace quirelo::testing {

struct GfmShape {
    std::string outline;  // blocks: P, H2, K (code), R (rule), Q(...), L.3(...), I(...), T2x3, F(...)
    std::string text;     // the text a reader sees, white space collapsed
    bool operator==(const GfmShape&) const = default;
};

inline void PrintTo(const GfmShape& shape, std::ostream* out) {
    *out << "{" << shape.outline << " | " << shape.text << "}";
}

// What cmark-gfm reads from the Markdown.
GfmShape parsed_shape(std::string_view markdown);
// What the (linked) nodes of the documents say the Markdown holds, joined as a book joins
// them: a thematic break between two documents.
GfmShape book_shape(const std::vector<const GfmTree*>& trees);

}  // namespace quirelo::testing
