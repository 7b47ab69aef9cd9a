// The lenient table-of-contents reading and HTML reference decoding on arbitrary bytes:
// never crashes; decoding valid UTF-8 gives valid UTF-8, and text without "&" unchanged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "reader/lenient_toc.hpp"
#include "reader/toc_parsing.hpp"
#include "text/html_entities.hpp"
#include "text/utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string xml = quirelo::xml_from_html_markup(bytes);
    (void)quirelo::parse_nav(xml);
    (void)quirelo::parse_ncx(xml);
    const std::string text = quirelo::decode_utf8_lossy(bytes);
    const std::string decoded = quirelo::html_unescape(text);
    if (!quirelo::is_valid_utf8(decoded)) __builtin_trap();
    if (text.find('&') == std::string::npos && decoded != text) __builtin_trap();
    return 0;
}
