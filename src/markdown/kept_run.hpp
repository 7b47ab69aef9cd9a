#pragma once
// The copy loop both White_Space collapsers share (text extraction and the Markdown
// converter): the characters that are kept as they are, eight bytes at a time through
// prose. Output never runs ahead of input, so the loop works in place as well.
#include <cstddef>
#include <cstring>

#include "text/utf8_bytes.hpp"

namespace quirelo {

// Copies one character (one to four bytes) to a position at or before its own, front to
// back so that an overlap is harmless; plain stores beat a call to memmove at this size.
inline char* move_character_left(const char* from, std::size_t length, char* to) {
    to[0] = from[0];
    if (length > 1) to[1] = from[1];
    if (length > 2) to[2] = from[2];
    if (length > 3) to[3] = from[3];
    return to + length;
}

// Copies the kept character at position (`kept` bytes) and every one after it for which
// continues(position, remaining) gives a length: a character kept as it is, or a single
// blank and the plain ASCII character after it (2), which is already its collapsed form.
// Stops at end or where continues gives 0, with position at that byte.
template <bool tags_are_text, class Continues>
inline void copy_kept_run(const char*& position, const char* end, char*& written, std::size_t kept,
                          Continues&& continues) {
    for (;;) {
        written = move_character_left(position, kept, written);
        position += kept;
        while (end - position >= 8 && is_prose_block<tags_are_text>(position)) {
            std::memmove(written, position, 8);
            written += 8;
            position += 8;
        }
        if (position == end) return;
        kept = continues(position, static_cast<std::size_t>(end - position));
        if (kept == 0) return;
    }
}

}  // namespace quirelo
