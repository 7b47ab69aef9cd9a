// One document to Markdown: body range, scan, link rewrite, then white space and lines.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#include "markdown/character_reference.hpp"
#include "markdown/kept_run.hpp"
#include "markdown/markdown.hpp"
#include "markdown/markdown_tag.hpp"
#include "text/ascii.hpp"
#include "text/utf8_bytes.hpp"
#include "text/unicode_properties.hpp"
#include "text/utf8.hpp"

namespace quirelo {

namespace {

constexpr std::size_t NOT_FOUND = std::string_view::npos;


// Whether text[at..] starts with a lower-case ASCII pattern, ignoring ASCII case.
bool matches_ignoring_ascii_case(std::string_view text, std::size_t at, std::string_view pattern) {
    if (text.size() - at < pattern.size()) return false;
    for (std::size_t index = 0; index < pattern.size(); ++index) {
        if (ascii_lower(text[at + index]) != pattern[index]) return false;
    }
    return true;
}

// Patterns here start with "<", so candidates are found with a byte search for it.
std::size_t find_first_ignoring_ascii_case(std::string_view text, std::string_view pattern) {
    for (std::size_t at = text.find('<'); at != NOT_FOUND; at = text.find('<', at + 1)) {
        if (matches_ignoring_ascii_case(text, at, pattern)) return at;
    }
    return NOT_FOUND;
}

std::size_t find_last_ignoring_ascii_case(std::string_view text, std::string_view pattern) {
    for (std::size_t at = text.rfind('<'); at != NOT_FOUND; at = at == 0 ? NOT_FOUND : text.rfind('<', at - 1)) {
        if (matches_ignoring_ascii_case(text, at, pattern)) return at;
    }
    return NOT_FOUND;
}

// Pass 1. "<body" and "</body>" hold no letter that a non-ASCII character lower-cases
// into, so ASCII folding finds what full lower-casing would, at positions in the text.
std::string_view body_range(std::string_view text) {
    std::size_t start = 0;
    if (const std::size_t open = find_first_ignoring_ascii_case(text, "<body"); open != NOT_FOUND) {
        if (const std::size_t close = text.find('>', open); close != NOT_FOUND) start = close + 1;
    }
    std::size_t end = find_last_ignoring_ascii_case(text, "</body>");
    if (end == NOT_FOUND) end = text.size();
    // The last "</body>" can lie before the end of the opening tag; that leaves no body.
    if (end < start) return {};
    return text.substr(start, end - start);
}

void break_line_if_needed(std::string& out) {
    if (!out.empty() && out.back() != '\n') out.push_back('\n');
}

// The marker that pass 3 turns into "[text](target)"; it holds NUL characters so that
// no ordinary text looks like one unless the document itself carries NULs.
constexpr std::string_view LINK_MARKER_START = std::string_view("[\0HREF:", 7);

void append_tag(std::string& out, std::string_view tag_text) {
    const ClassifiedTag tag = classify_tag(tag_text);
    switch (tag.tag) {
        case MarkdownTag::OTHER:
            return;
        case MarkdownTag::HEADING:
            if (tag.closing) {
                out.append("\n\n");
            } else {
                break_line_if_needed(out);
                out.append(static_cast<std::size_t>(tag.heading_level), '#');
                out.push_back(' ');
            }
            return;
        case MarkdownTag::PARAGRAPH:
            if (tag.closing) {
                out.append("\n\n");
            } else {
                break_line_if_needed(out);
            }
            return;
        case MarkdownTag::BLOCKQUOTE:
            if (tag.closing) {
                out.append("\n\n");
            } else {
                break_line_if_needed(out);
                out.append("> ");
            }
            return;
        case MarkdownTag::LIST_ITEM:
            if (tag.closing) {
                out.push_back('\n');
            } else {
                break_line_if_needed(out);
                out.append("- ");
            }
            return;
        case MarkdownTag::LINE_BREAK:
            out.push_back('\n');
            return;
        case MarkdownTag::RULE:
            break_line_if_needed(out);
            out.append("---\n\n");
            return;
        case MarkdownTag::EMPHASIS:
            out.push_back('*');
            return;
        case MarkdownTag::STRONG:
            out.append("**");
            return;
        case MarkdownTag::LINK:
            if (tag.closing) {
                out.push_back(']');
            } else if (const auto target = find_href_target(tag_text)) {
                out.append(LINK_MARKER_START);
                out.append(*target);
                out.push_back('\0');
            }
            return;
    }
}

// The next occurrence of one byte at or after a position that only grows: found once with
// memchr and reused until the position passes it, so no stretch is searched twice.
class NextByte {
public:
    NextByte(std::string_view text, char byte) : text_(text), byte_(byte) {}

    // The position of the byte at or after position, or the text's size when there is none.
    std::size_t at_or_after(std::size_t position) {
        if (!searched_ || found_ < position) {
            const void* found = std::memchr(text_.data() + position, byte_, text_.size() - position);
            found_ = found == nullptr ? text_.size() : static_cast<const char*>(found) - text_.data();
            searched_ = true;
        }
        return found_;
    }

private:
    std::string_view text_;
    char byte_;
    bool searched_ = false;
    std::size_t found_ = 0;
};

// Pass 2: text is copied, "&" starts a character reference and "<" a tag.
std::string scan_body(std::string_view body) {
    std::string out;
    out.reserve(body.size() + 16);
    const char* data = body.data();
    const std::size_t size = body.size();
    NextByte next_tag(body, '<');
    NextByte next_reference(body, '&');
    std::size_t position = 0;
    while (position < size) {
        const std::size_t run_end = std::min(next_tag.at_or_after(position), next_reference.at_or_after(position));
        out.append(data + position, run_end - position);
        position = run_end;
        if (position == size) break;

        if (data[position] == '&') {
            // The name ends at ";" (consumed), at the end of the body, or with the character
            // that brings it to MAX_ENTITY_NAME_BYTES (a ";" after that stays text).
            const std::size_t name_start = ++position;
            std::size_t name_end = size;
            while (position < size) {
                if (data[position] == ';') {
                    name_end = position++;
                    break;
                }
                next_code_point(body, position);
                if (position - name_start >= MAX_ENTITY_NAME_BYTES) {
                    name_end = position;
                    break;
                }
            }
            append_character_reference(out, body.substr(name_start, name_end - name_start));
        } else {
            const std::size_t text_start = position + 1;
            const void* close = std::memchr(data + text_start, '>', size - text_start);
            const std::size_t text_end =
                close == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(close) - data);
            append_tag(out, body.substr(text_start, text_end - text_start));
            position = close == nullptr ? size : text_end + 1;
        }
    }
    return out;
}

// Pass 3: each well-formed marker "[\0HREF:target\0text]" becomes "[text](target)".
// Markers that do not complete are kept as they are, NULs included.
std::string rewrite_links(std::string_view scanned) {
    std::string out;
    out.reserve(scanned.size());
    // The first "]" at or after the last position asked for. Positions asked for only
    // grow, so the cached answer is reused and no stretch of text is searched twice.
    std::size_t close_found = NOT_FOUND;
    bool close_known = false;
    auto first_close_from = [&](std::size_t from) {
        if (!close_known || (close_found != NOT_FOUND && close_found < from)) {
            close_found = scanned.find(']', from);
            close_known = true;
        }
        return close_found;
    };

    std::size_t position = 0;
    while (position < scanned.size()) {
        const std::size_t bracket = scanned.find('[', position);
        if (bracket == NOT_FOUND) {
            out.append(scanned.substr(position));
            break;
        }
        out.append(scanned.substr(position, bracket - position));
        position = bracket + 1;
        if (position >= scanned.size() || scanned[position] != '\0') {
            out.push_back('[');
            continue;
        }
        const std::size_t target_start = position + 1;
        const std::size_t second_nul = scanned.find('\0', target_start);
        if (second_nul == NOT_FOUND || second_nul - target_start < 5 ||
            scanned.substr(target_start, 5) != "HREF:") {
            out.push_back('[');
            continue;
        }
        const std::size_t close = first_close_from(second_nul + 1);
        if (close == NOT_FOUND) {
            out.push_back('[');
            continue;
        }
        out.push_back('[');
        out.append(trim_white_space(scanned.substr(second_nul + 1, close - second_nul - 1)));
        out.append("](");
        out.append(scanned.substr(target_start + 5, second_nul - target_start - 5));
        out.push_back(')');
        position = close + 1;
    }
    return out;
}

enum ByteClass : std::uint8_t { PLAIN, LINE_FEED, ASCII_SPACE, NON_ASCII };

constexpr std::array<ByteClass, 256> BYTE_CLASSES = [] {
    std::array<ByteClass, 256> classes{};
    for (unsigned char byte : {'\t', '\v', '\f', '\r', ' '}) classes[byte] = ASCII_SPACE;
    classes['\n'] = LINE_FEED;
    for (int byte = 0x80; byte < 0x100; ++byte) classes[byte] = NON_ASCII;
    return classes;
}();

ByteClass byte_class(char byte) { return BYTE_CLASSES[static_cast<unsigned char>(byte)]; }

// Byte length of the non-White_Space character at text[0..size): its whole sequence, or
// one byte of an invalid one (copied as it is); 0 for White_Space.
std::size_t kept_character_length(const char* text, std::size_t size) {
    if (wide_white_space_length(text, size) != 0) return 0;
    const std::size_t length = utf8_sequence_length(text, size);
    return length == 0 ? 1 : length;
}

// Past the blanks and tabs from position on. Source indentation makes long runs of them,
// and a run has the effect of its first character, so they are skipped eight at a time.
const char* skip_blanks_and_tabs(const char* position, const char* end) {
    static_assert(std::endian::native == std::endian::little);  // the first byte is the lowest
    while (end - position >= 8) {
        std::uint64_t block;
        std::memcpy(&block, position, sizeof block);
        position += 8;
        if (block == EVERY_BYTE * ' ' || block == EVERY_BYTE * '\t') continue;
        const std::uint64_t blank_or_tab = bytes_equal_to(block, ' ') | bytes_equal_to(block, '\t');
        if (blank_or_tab != HIGH_BITS) return position - 8 + std::countr_zero(~blank_or_tab & HIGH_BITS) / 8;
    }
    while (position < end && (*position == ' ' || *position == '\t')) ++position;
    return position;
}

// Passes 4 and 5 in one walk. Pass 4: a White_Space run becomes one blank, and at most
// two "\n" in a row survive (a blank between them resets the count). Pass 5 then trims
// every line's end and the whole text's ends: its blanks and line feeds are held back and
// written only when a character follows (after pass 4 the only White_Space left is " "
// and "\n"). Neither pass makes any stretch of the text longer, so the text is compacted
// in place: what is written never overtakes what is still to be read.
std::string normalize_white_space(std::string text) {
    char* const buffer = text.data();
    char* written = buffer;
    const char* position = buffer;
    const char* const end = position + text.size();
    auto remaining = [&] { return static_cast<std::size_t>(end - position); };
    bool blank_written = false;       // pass 4
    int line_feeds = 0;               // pass 4
    std::size_t held_blanks = 0;      // pass 5
    std::size_t held_line_feeds = 0;  // pass 5
    auto write_blank = [&] {
        if (!blank_written) ++held_blanks;
        blank_written = true;
        line_feeds = 0;
    };
    while (position < end) {
        std::size_t kept = 1;
        switch (byte_class(*position)) {
            case PLAIN:
                break;
            case LINE_FEED:
                if (++line_feeds <= 2) {
                    held_blanks = 0;
                    ++held_line_feeds;
                }
                blank_written = false;
                ++position;
                continue;
            case ASCII_SPACE:
                write_blank();
                position = skip_blanks_and_tabs(position + 1, end);
                continue;
            case NON_ASCII:
                if (const std::size_t length = wide_white_space_length(position, remaining())) {
                    write_blank();
                    position += length;
                    continue;
                }
                kept = kept_character_length(position, remaining());
                break;
        }
        if (written != buffer) {
            written = std::fill_n(written, held_line_feeds, '\n');
            written = std::fill_n(written, held_blanks, ' ');
        }
        held_line_feeds = held_blanks = 0;
        blank_written = false;
        line_feeds = 0;
        // Copy a run of characters. A single blank between two ASCII characters is
        // already in its final form, so prose stays in one run.
        copy_kept_run<true>(position, end, written, kept, [](const char* at, std::size_t size) -> std::size_t {
            const ByteClass next = byte_class(*at);
            if (next == PLAIN) return 1;
            if (*at == ' ' && size > 1 && byte_class(at[1]) == PLAIN) return 2;
            return next == NON_ASCII ? kept_character_length(at, size) : 0;
        });
    }
    text.resize(static_cast<std::size_t>(written - buffer));
    return text;
}

}  // namespace

std::string html_to_markdown(std::string_view text) {
    std::string scanned = scan_body(body_range(text));
    // Without a NUL there can be no link marker, and pass 3 would copy the text unchanged.
    if (scanned.find('\0') == NOT_FOUND) return normalize_white_space(std::move(scanned));
    return normalize_white_space(rewrite_links(scanned));
}

}  // namespace quirelo
