#include "markdown/text_extraction.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "markdown/kept_run.hpp"
#include "text/utf8_bytes.hpp"
#include "text/utf8.hpp"

namespace quirelo {

namespace {

enum ByteClass : std::uint8_t { PLAIN, TAG_OPEN, TAG_CLOSE, ASCII_SPACE, NON_ASCII };

constexpr std::array<ByteClass, 256> BYTE_CLASSES = [] {
    std::array<ByteClass, 256> classes{};
    classes['<'] = TAG_OPEN;
    classes['>'] = TAG_CLOSE;
    for (unsigned char byte : {'\t', '\n', '\v', '\f', '\r', ' '}) classes[byte] = ASCII_SPACE;
    for (int byte = 0x80; byte < 0x100; ++byte) classes[byte] = NON_ASCII;
    return classes;
}();

ByteClass byte_class(char byte) { return BYTE_CLASSES[static_cast<unsigned char>(byte)]; }

// Strips tags and collapses White_Space in one pass, validating UTF-8 on the way. Tags
// are invisible to the collapser, so a White_Space run that a tag interrupts is still one
// run. A blank is written only before the next kept character and only once something
// was kept, which trims both ends for free. The output is never longer than valid input,
// so the buffer is sized once; nothing is returned for invalid input.
std::optional<std::string> strip_tags_and_collapse(std::string_view text) {
    bool valid = true;
    std::string out;
    out.resize_and_overwrite(text.size(), [text, &valid](char* buffer, std::size_t) {
        char* written = buffer;
        const char* position = text.data();
        const char* const end = position + text.size();
        auto remaining = [&] { return static_cast<std::size_t>(end - position); };
        bool blank_pending = false;
        while (position < end) {
            std::size_t kept = 1;  // bytes of the character at position, when it is kept
            switch (byte_class(*position)) {
                case PLAIN:
                    break;
                case TAG_OPEN: {
                    // Up to the next ">" all is tag text, dropped; without one, the rest is.
                    // Invalid bytes there would be dropped as U+FFFD too, so they are skipped.
                    const void* close = std::memchr(position + 1, '>', remaining() - 1);
                    position = close == nullptr ? end : static_cast<const char*>(close) + 1;
                    continue;
                }
                case TAG_CLOSE:
                    ++position;  // a stray ">" outside a tag disappears as well
                    continue;
                case ASCII_SPACE:
                    blank_pending = true;
                    ++position;
                    continue;
                case NON_ASCII:
                    if (const std::size_t length = wide_white_space_length(position, remaining())) {
                        blank_pending = true;
                        position += length;
                        continue;
                    }
                    kept = utf8_sequence_length(position, remaining());
                    if (kept == 0) {
                        valid = false;
                        return std::size_t{0};
                    }
                    break;
            }
            if (blank_pending && written != buffer) *written++ = ' ';
            blank_pending = false;
            // Copy a run of kept characters. A single blank between two ASCII characters
            // is its own collapsed form, so prose stays in one run.
            copy_kept_run<false>(position, end, written, kept, [](const char* at, std::size_t size) -> std::size_t {
                const ByteClass next = byte_class(*at);
                if (next == PLAIN) return 1;
                if (*at == ' ' && size > 1 && byte_class(at[1]) == PLAIN) return 2;
                if (next != NON_ASCII || wide_white_space_length(at, size) != 0) return 0;
                return utf8_sequence_length(at, size);
            });
        }
        return static_cast<std::size_t>(written - buffer);
    });
    if (!valid) return std::nullopt;
    return out;
}

}  // namespace

std::string extract_text(std::string_view bytes) {
    if (auto text = strip_tags_and_collapse(bytes)) return std::move(*text);
    // Invalid sequences become U+FFFD, which can be longer than the bytes it replaces.
    return *strip_tags_and_collapse(decode_utf8_lossy(bytes));
}

std::optional<std::string> get_text(const Item& item) {
    if (item.item_type != ITEM_DOCUMENT && item.item_type != ITEM_NAVIGATION) return std::nullopt;
    return extract_text(load_content(item));
}

}  // namespace quirelo
