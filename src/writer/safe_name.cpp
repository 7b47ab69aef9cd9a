#include "writer/safe_name.hpp"

#include <cstddef>

#include "text/unicode_properties.hpp"
#include "text/utf8.hpp"

namespace quirelo {

bool is_safe_name(std::string_view name) {
    std::size_t position = 0;
    while (position < name.size()) {
        const auto byte = static_cast<unsigned char>(name[position]);
        if (byte < 0x80) {
            ++position;
            if (byte == '-' || byte == '.' || byte == ':' || byte == '_') continue;
            if (!is_alphabetic(byte) && !is_numeric(byte)) return false;
            continue;
        }
        // Invalid UTF-8 decodes to U+FFFD, which is neither alphabetic nor numeric.
        const char32_t code = next_code_point(name, position);
        if (!is_alphabetic(code) && !is_numeric(code)) return false;
    }
    return true;
}

}  // namespace quirelo
