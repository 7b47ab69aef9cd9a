#pragma once
// Names of the anchors that links between a book's documents point at, in the one
// Markdown document: "d<N>" for the start of the N-th converted document, "d<N>-<id>"
// for an element id inside it. Bytes other than ASCII letters, digits, "-" and "." are
// written "_XX" (hexadecimal), "_" included, so distinct ids give distinct names and
// every name is safe both in `<a id="...">` and after "#" in a link.
#include <cstddef>
#include <string>
#include <string_view>

namespace quirelo {

std::string document_anchor_name(std::size_t document);
std::string element_anchor_name(std::size_t document, std::string_view id);

}  // namespace quirelo
