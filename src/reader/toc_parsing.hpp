#pragma once
// Table-of-contents trees from an EPUB 3 navigation document or an EPUB 2 NCX.
#include <cstddef>
#include <string_view>
#include <vector>

#include "model/error.hpp"
#include "model/toc.hpp"

namespace quirelo {

// Lists nested this many levels below the top list are read as empty.
inline constexpr std::size_t MAX_TOC_DEPTH = 100;


// The list of the nav whose epub:type is exactly "toc" (else of the first nav with any
// "type" attribute that is exactly "toc"). Fails (Xml) only when the document does not parse.
Result<std::vector<TocEntry>> parse_nav(std::string_view bytes);

// The navPoints of the first navMap. Fails (Xml) only when the document does not parse.
Result<std::vector<TocEntry>> parse_ncx(std::string_view bytes);

}  // namespace quirelo
