// The structured Markdown flavour on arbitrary bytes: never crashes or hangs, gives valid
// UTF-8, and cmark-gfm reads the output back as the nodes it came from (blocks and text).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "gfm/gfm_book.hpp"
#include "gfm_parse_back.hpp"
#include "text/utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static quirelo::HtmlParser parser;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    quirelo::GfmDocument document;
    quirelo::build_gfm_document(bytes, document, parser);
    quirelo::link_gfm_documents(nullptr, {&document, 1});
    const std::string markdown = quirelo::render_gfm_document(document);
    if (!quirelo::is_valid_utf8(markdown)) __builtin_trap();
    if (quirelo::testing::parsed_shape(markdown) != quirelo::testing::book_shape({&document.tree})) __builtin_trap();
    if (quirelo::html_to_gfm(bytes) != markdown) __builtin_trap();  // a reused parser changes nothing
    return 0;
}
