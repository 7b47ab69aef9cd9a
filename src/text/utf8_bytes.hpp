#pragma once
// UTF-8 byte tests for the converters' hot loops: sequence validity and White_Space
// (generated beside it), both without decoding to code points.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "text/white_space_bytes.hpp"

namespace quirelo {

// Byte length of the well-formed UTF-8 sequence of a non-ASCII character at
// text[0..size) (no overlong forms, surrogates or values past U+10FFFF), or 0.
constexpr std::size_t utf8_sequence_length(const char* text, std::size_t size) {
    auto at = [text](std::size_t index) { return static_cast<unsigned char>(text[index]); };
    auto continuation = [&](std::size_t index) { return (at(index) & 0xC0) == 0x80; };
    const unsigned char lead = at(0);
    if (lead >= 0xC2 && lead <= 0xDF) return size >= 2 && continuation(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (size < 3 || !continuation(1) || !continuation(2)) return 0;
        if (lead == 0xE0 && at(1) < 0xA0) return 0;
        if (lead == 0xED && at(1) > 0x9F) return 0;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (size < 4 || !continuation(1) || !continuation(2) || !continuation(3)) return 0;
        if (lead == 0xF0 && at(1) < 0x90) return 0;
        if (lead == 0xF4 && at(1) > 0x8F) return 0;
        return 4;
    }
    return 0;
}

// Eight bytes at a time through prose: a block that is plain ASCII text, with single
// blanks between characters and no blank at its end, comes out of both White_Space
// collapsers unchanged when it follows a kept character. With tags_are_text false, "<"
// and ">" are not plain. Control bytes (including tab and line feed) never are.
inline constexpr std::uint64_t EVERY_BYTE = 0x0101010101010101ULL;
inline constexpr std::uint64_t HIGH_BITS = 0x8080808080808080ULL;
inline constexpr std::uint64_t LOW_BITS = 0x7F7F7F7F7F7F7F7FULL;

// The high bit of each byte of block that equals value.
constexpr std::uint64_t bytes_equal_to(std::uint64_t block, unsigned char value) {
    const std::uint64_t difference = block ^ (EVERY_BYTE * value);
    return ~(((difference & LOW_BITS) + LOW_BITS) | difference) & HIGH_BITS;
}

template <bool tags_are_text>
bool is_prose_block(const char* text) {
    std::uint64_t block;
    std::memcpy(&block, text, sizeof block);
    if (block & HIGH_BITS) return false;
    const std::uint64_t at_least_blank = ((block & LOW_BITS) + EVERY_BYTE * (0x80 - 0x20)) & HIGH_BITS;
    if (at_least_blank != HIGH_BITS || block == 0) return false;
    if constexpr (!tags_are_text) {
        if (bytes_equal_to(block, '<') | bytes_equal_to(block, '>')) return false;
    }
    // Byte order in the block follows memory only on little-endian machines.
    static_assert(std::endian::native == std::endian::little);
    const std::uint64_t blanks = bytes_equal_to(block, ' ');
    return (blanks & (blanks << 8)) == 0 && (blanks >> 56) == 0;
}

}  // namespace quirelo
