#include "text/utf8.hpp"

#include <cstdint>

namespace quirelo {

namespace {
inline bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }
}  // namespace

char32_t next_code_point(std::string_view text, std::size_t& position) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    const unsigned char lead = bytes[position];
    if (lead < 0x80) {
        ++position;
        return lead;
    }
    std::size_t length;
    char32_t code;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        ++position;
        return REPLACEMENT_CHARACTER;
    }
    // Consume the longest valid prefix; an incomplete or broken sequence is one U+FFFD.
    std::size_t next = position + 1;
    for (std::size_t i = 1; i < length; ++i, ++next) {
        if (next >= size) {
            position = next;
            return REPLACEMENT_CHARACTER;
        }
        const unsigned char byte = bytes[next];
        const bool ok = i == 1 ? (byte >= low && byte <= high) : is_continuation(byte);
        if (!ok) {
            position = next;
            return REPLACEMENT_CHARACTER;
        }
        code = (code << 6) | (byte & 0x3F);
    }
    position = next;
    return code;
}

bool is_valid_utf8(std::string_view bytes) {
    std::size_t position = 0;
    while (position < bytes.size()) {
        // ASCII runs dominate real documents; skip them eight bytes at a time.
        while (position + 8 <= bytes.size()) {
            std::uint64_t block;
            __builtin_memcpy(&block, bytes.data() + position, 8);
            if (block & 0x8080808080808080ULL) break;
            position += 8;
        }
        if (position >= bytes.size()) break;
        const std::size_t start = position;
        if (next_code_point(bytes, position) == REPLACEMENT_CHARACTER) {
            // A literal U+FFFD (EF BF BD) is valid; anything else that decodes to it is not.
            if (position - start != 3 || static_cast<unsigned char>(bytes[start]) != 0xEF) return false;
        }
    }
    return true;
}

void append_code_point(std::string& out, char32_t code_point) {
    if (code_point < 0x80) {
        out.push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else if (code_point < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    }
}

void append_utf8_lossy(std::string& out, std::string_view bytes) {
    if (is_valid_utf8(bytes)) {
        out.append(bytes);
        return;
    }
    out.reserve(out.size() + bytes.size() + bytes.size() / 2);
    std::size_t position = 0;
    while (position < bytes.size()) {
        const std::size_t start = position;
        const char32_t code = next_code_point(bytes, position);
        if (code < 0x80 || code != REPLACEMENT_CHARACTER) {
            out.append(bytes.substr(start, position - start));
        } else {
            append_code_point(out, REPLACEMENT_CHARACTER);
        }
    }
}

std::string decode_utf8_lossy(std::string_view bytes) {
    std::string out;
    append_utf8_lossy(out, bytes);
    return out;
}

}  // namespace quirelo
