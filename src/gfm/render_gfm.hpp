#pragma once
// GitHub Flavored Markdown from a document's nodes: one function per node kind. Escaping
// of text that would otherwise turn into markup, and the prefixes of nested containers
// (quote markers, list indentation, footnote indentation), live here and nowhere else.
//
// Every node is rendered iteratively (explicit stacks), so depth costs memory, not C
// stack. Notes with a footnote number are left out of the flow and written at the end as
// footnote definitions; other notes are rendered in place.
#include <string>

#include "gfm/gfm_tree.hpp"

namespace quirelo {

// Appends the document's Markdown (no trailing line feed) to out.
void render_gfm(const GfmTree& tree, std::string& out);

}  // namespace quirelo
