// Text extraction on arbitrary bytes: never crashes, and its output is valid UTF-8 with
// no leading, trailing or doubled blank and no other White_Space left.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "markdown/text_extraction.hpp"
#include "text/unicode_properties.hpp"
#include "text/utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = quirelo::extract_text(bytes);
    if (!quirelo::is_valid_utf8(text)) __builtin_trap();
    if (text.size() > size * 3) __builtin_trap();
    if (!text.empty() && (text.front() == ' ' || text.back() == ' ')) __builtin_trap();
    bool previous_blank = false;
    for (std::size_t position = 0; position < text.size();) {
        const char32_t code = quirelo::next_code_point(text, position);
        if (code == '<' || code == '>') __builtin_trap();
        if (quirelo::is_white_space(code)) {
            if (code != ' ' || previous_blank) __builtin_trap();
            previous_blank = true;
        } else {
            previous_blank = false;
        }
    }
    return 0;
}
