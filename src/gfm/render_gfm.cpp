#include "gfm/render_gfm.hpp"

#include <algorithm>
#include <string_view>
#include <vector>

#include "text/ascii.hpp"
#include "text/unicode_properties.hpp"
#include "text/utf8.hpp"

namespace quirelo {

namespace {

// How a character next to an emphasis delimiter counts for CommonMark's flanking rules.
// Only what is certain counts: an unknown character never makes a delimiter valid.
enum class CharClass : std::uint8_t { Space, Punctuation, Word, Other, Star, ClosingRun };
// After the last child of an emphasis: the parent's closing delimiter follows.
constexpr CharClass CLOSING_RUN = CharClass::ClosingRun;

bool is_ascii_punctuation(unsigned char c) {
    return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') || (c >= '{' && c <= '~');
}

CharClass classify(char32_t c) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') return CharClass::Space;
    if (c < 0x80) {
        if (c == '*') return CharClass::Star;
        return is_ascii_punctuation(static_cast<unsigned char>(c)) ? CharClass::Punctuation : CharClass::Word;
    }
    return is_alphabetic(c) || is_numeric(c) ? CharClass::Word : CharClass::Other;
}

char32_t code_point_at(std::string_view text, std::size_t position) {
    return next_code_point(text, position);
}

char32_t code_point_before(std::string_view text, std::size_t end) {
    std::size_t start = end - 1;
    while (start > 0 && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    return code_point_at(text, start);
}

std::size_t longest_backtick_run(std::string_view text) {
    std::size_t longest = 0;
    std::size_t run = 0;
    for (const char c : text) {
        run = c == '`' ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

// "&name;" or "&#123;" would be read as a character reference.
bool looks_like_reference(std::string_view text, std::size_t ampersand) {
    std::size_t position = ampersand + 1;
    if (position < text.size() && text[position] == '#') ++position;
    const std::size_t start = position;
    while (position < text.size() && is_ascii_alnum(static_cast<unsigned char>(text[position]))) ++position;
    return position > start && position < text.size() && text[position] == ';';
}

void append_destination(std::string& out, std::string_view destination) {
    for (const char c : destination) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte == 0x7F) {
            append_hex_escape(out, '%', byte);
        } else {
            if (c == '(' || c == ')' || c == '\\' || c == '<' || c == '>' || c == '|') out.push_back('\\');
            out.push_back(c);
        }
    }
}

enum class InlineMode : std::uint8_t { Paragraph, Heading, Cell };

// The longest backtick run CommonMark readers (cmark's limit) accept as a code span fence.
constexpr std::size_t MAX_CODE_FENCE = 80;

struct BlockFrame {
    GfmNodeId node;
    GfmNodeId cursor;
    std::string marker;        // written on the container's first line
    std::string continuation;  // the prefix of its later lines
    std::size_t prefix_size = 0;  // the prefix before this container's part
    std::uint32_t next_number = 0;
    char list_marker = 0;         // a list's bullet or delimiter
    char last_list_marker = 0;    // the marker of the list this container wrote last
    bool transparent = false;     // a note rendered in place: its blocks belong to its parent
    bool tight = false;
    bool started = false;
    bool wrote_child = false;
};

class Renderer {
public:
    Renderer(const GfmTree& tree, std::string& out) : tree_(tree), out_(out) {}

    void render() {
        frames_.reserve(16);
        BlockFrame document;
        document.node = 0;
        document.cursor = tree_.nodes[0].first_child;
        document.started = true;
        frames_.push_back(std::move(document));
        run_frames(1);
        // Footnote definitions close the document, each a container of its own.
        for (const GfmNodeId note : tree_.notes) {
            const GfmNode& node = tree_.nodes[note];
            if (node.number == 0) continue;
            BlockFrame definition;
            definition.node = note;
            definition.cursor = node.first_child;
            definition.marker = "[^" + std::to_string(node.number) + "]: ";
            definition.continuation = "    ";
            frames_.push_back(std::move(definition));
            run_frames(1);
        }
    }

private:
    const GfmTree& tree_;
    std::string& out_;
    std::vector<BlockFrame> frames_;
    std::string prefix_;
    std::size_t line_start_ = std::string::npos;  // where the current line's content began

    const GfmNode& node(GfmNodeId id) const { return tree_.nodes[id]; }

    // Walks block containers until the frame at `depth` - 1 (kept) has no child left.
    void run_frames(std::size_t depth) {
        while (true) {
            BlockFrame& frame = frames_.back();
            const GfmNodeId child = frame.cursor;
            if (child == NO_GFM_NODE) {
                if (frames_.size() == depth) return;
                pop_frame();
                continue;
            }
            frame.cursor = node(child).next;
            enter_block(child);
        }
    }

    BlockFrame& container_of(std::size_t index) {
        while (frames_[index].transparent) --index;
        return frames_[index];
    }

    void enter_block(GfmNodeId id) {
        const GfmNode& block = node(id);
        switch (block.kind) {
            case GfmKind::Paragraph: render_paragraph(id); break;
            case GfmKind::Heading: render_heading(id); break;
            case GfmKind::CodeBlock: render_code_block(id); break;
            case GfmKind::Rule: render_rule(); break;
            case GfmKind::Table: render_table(id); break;
            case GfmKind::Quote: push_quote(id); break;
            case GfmKind::List: push_list(id); break;
            case GfmKind::Item: push_item(id); break;
            case GfmKind::Note: push_note_in_place(id); break;
            default: break;  // Skip, and nothing else stands among blocks
        }
    }

    void push_quote(GfmNodeId id) {
        BlockFrame frame;
        frame.node = id;
        frame.cursor = node(id).first_child;
        frame.marker = "> ";
        frame.continuation = "> ";
        frames_.push_back(std::move(frame));
    }

    void push_list(GfmNodeId id) {
        const GfmNode& list = node(id);
        BlockFrame frame;
        frame.node = id;
        frame.cursor = list.first_child;
        frame.next_number = list.number;
        // Two lists in a row need different markers, or they would read as one; a list
        // opening an item takes the other bullet than its parent's, or "- - -" would
        // read as a rule.
        const BlockFrame& container = container_of(frames_.size() - 1);
        char previous = container.last_list_marker;
        if (previous == 0 && node(container.node).kind == GfmKind::Item && !container.wrote_child) {
            for (std::size_t index = frames_.size(); index-- > 0;) {
                if (node(frames_[index].node).kind == GfmKind::List) {
                    previous = frames_[index].list_marker;
                    break;
                }
            }
        }
        if ((list.flags & ORDERED) != 0) {
            frame.list_marker = previous == '.' ? ')' : '.';
        } else {
            frame.list_marker = previous == '-' ? '+' : '-';
        }
        // Tight when every item holds one block at most; blank lines otherwise.
        frame.tight = true;
        for (GfmNodeId item = list.first_child; item != NO_GFM_NODE && frame.tight; item = node(item).next) {
            int blocks = 0;
            for (GfmNodeId child = node(item).first_child; child != NO_GFM_NODE; child = node(child).next) {
                if (node(child).kind != GfmKind::Skip && ++blocks > 1) frame.tight = false;
            }
        }
        frames_.push_back(std::move(frame));
    }

    void push_item(GfmNodeId id) {
        BlockFrame& list = frames_.back();
        BlockFrame frame;
        frame.node = id;
        frame.cursor = node(id).first_child;
        if ((node(list.node).flags & ORDERED) != 0) {
            frame.marker = std::to_string(list.next_number);
            frame.marker.push_back(list.list_marker);
            if (list.next_number < 999'999'999) ++list.next_number;
        } else {
            frame.marker.assign(1, list.list_marker);
        }
        frame.marker.push_back(' ');
        frame.continuation.assign(frame.marker.size(), ' ');
        frames_.push_back(std::move(frame));
    }

    // A note without a footnote number: its blocks stand where it stands (in a list, as an item).
    void push_note_in_place(GfmNodeId id) {
        if (node(id).number != 0) return;
        if (node(frames_.back().node).kind == GfmKind::List) {
            push_item(id);
            return;
        }
        BlockFrame frame;
        frame.node = id;
        frame.cursor = node(id).first_child;
        frame.transparent = true;
        frames_.push_back(std::move(frame));
    }

    void pop_frame() {
        BlockFrame& frame = frames_.back();
        const GfmKind kind = node(frame.node).kind;
        if (!frame.started && !frame.marker.empty()) {
            // An empty item or quote still shows its marker.
            begin_block();
            while (!out_.empty() && out_.back() == ' ') out_.pop_back();
        }
        if (frame.started && !frame.transparent) prefix_.resize(frame.prefix_size);
        const bool was_list = kind == GfmKind::List;
        const char marker = frame.list_marker;
        const bool started = frame.started;
        frames_.pop_back();
        if (!frames_.empty() && was_list && started) container_of(frames_.size() - 1).last_list_marker = marker;
    }

    // Before a leaf block's first character: the separator from what came before, then
    // the markers of every container that has not written anything yet.
    void begin_block() {
        std::size_t first = frames_.size();
        while (first > 0 && !frames_[first - 1].started) --first;
        BlockFrame& parent = container_of(first - 1);
        std::size_t newlines = 0;
        if (parent.wrote_child) newlines = node(parent.node).kind == GfmKind::List && parent.tight ? 1 : 2;
        write_newlines(newlines);
        for (std::size_t index = first; index < frames_.size(); ++index) {
            BlockFrame& frame = frames_[index];
            container_of(index - 1).wrote_child = true;
            if (!frame.transparent) {
                container_of(index - 1).last_list_marker = 0;
                frame.prefix_size = prefix_.size();
                out_.append(frame.marker);
                prefix_.append(frame.continuation);
            }
            frame.started = true;
        }
        BlockFrame& container = container_of(frames_.size() - 1);
        container.wrote_child = true;
        container.last_list_marker = 0;
        line_start_ = out_.size();
    }

    void write_newlines(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            out_.push_back('\n');
            if (i + 1 < count) append_trimmed_prefix();
        }
        if (count > 0) out_.append(prefix_);
    }

    void append_trimmed_prefix() {
        std::string_view prefix = prefix_;
        while (!prefix.empty() && prefix.back() == ' ') prefix.remove_suffix(1);
        out_.append(prefix);
    }

    void new_line() {
        out_.push_back('\n');
        out_.append(prefix_);
        line_start_ = out_.size();
    }

    void render_paragraph(GfmNodeId id) {
        begin_block();
        render_inlines(id, InlineMode::Paragraph);
    }

    void render_heading(GfmNodeId id) {
        begin_block();
        out_.append(std::min<std::uint32_t>(std::max<std::uint32_t>(node(id).number, 1), 6), '#');
        out_.push_back(' ');
        line_start_ = std::string::npos;
        render_inlines(id, InlineMode::Heading);
    }

    void render_rule() {
        begin_block();
        out_.append("***");
    }

    void render_code_block(GfmNodeId id) {
        begin_block();
        const std::string_view text = tree_.text(id);
        const std::size_t fence = std::max<std::size_t>(3, longest_backtick_run(text) + 1);
        out_.append(fence, '`');
        std::size_t position = 0;
        while (position <= text.size()) {
            std::size_t end = text.find('\n', position);
            if (end == std::string_view::npos) end = text.size();
            const std::string_view line = text.substr(position, end - position);
            out_.push_back('\n');
            if (line.empty()) {
                append_trimmed_prefix();
            } else {
                out_.append(prefix_);
                out_.append(line);
            }
            position = end + 1;
        }
        new_line();
        out_.append(fence, '`');
    }

    void render_table(GfmNodeId id) {
        begin_block();
        std::size_t columns = 1;
        for (GfmNodeId row = node(id).first_child; row != NO_GFM_NODE; row = node(row).next) {
            if (node(row).kind != GfmKind::Row) continue;
            std::size_t cells = 0;
            for (GfmNodeId cell = node(row).first_child; cell != NO_GFM_NODE; cell = node(cell).next) {
                if (node(cell).kind == GfmKind::Cell) ++cells;
            }
            columns = std::max(columns, cells);
        }
        bool first = true;
        for (GfmNodeId row = node(id).first_child; row != NO_GFM_NODE; row = node(row).next) {
            if (node(row).kind != GfmKind::Row) continue;
            if (!first) new_line();
            out_.push_back('|');
            std::size_t cells = 0;
            for (GfmNodeId cell = node(row).first_child; cell != NO_GFM_NODE; cell = node(cell).next) {
                if (node(cell).kind != GfmKind::Cell) continue;
                ++cells;
                out_.push_back(' ');
                for (GfmNodeId child = node(cell).first_child; child != NO_GFM_NODE; child = node(child).next) {
                    if (node(child).kind == GfmKind::Paragraph) render_inlines(child, InlineMode::Cell);
                }
                out_.append(" |");
            }
            for (; cells < columns; ++cells) out_.append("  |");
            if (first) {
                new_line();
                out_.push_back('|');
                for (std::size_t column = 0; column < columns; ++column) out_.append(" --- |");
                first = false;
            }
        }
    }

    // ---- inlines -------------------------------------------------------------------

    struct OpenDelimiter {
        GfmNodeId node;
        std::size_t position;  // where the opening delimiter starts in out_
        std::size_t size;
        bool active;           // false for emphasis nested in emphasis of its kind
    };

    void render_inlines(GfmNodeId root, InlineMode mode) {
        if (mode == InlineMode::Paragraph) line_start_ = out_.size();
        if (mode != InlineMode::Paragraph) line_start_ = std::string::npos;
        if (root == tree_.first_inline_block && !tree_.start_anchor.empty()) {
            append_anchor(tree_.start_anchor);
        }
        std::vector<OpenDelimiter>& open = open_delimiters_;
        open.clear();
        int emphasis_depth = 0;
        int strong_depth = 0;
        int link_depth = 0;
        GfmNodeId current = node(root).first_child;
        while (current != NO_GFM_NODE) {
            const GfmNode& inline_node = node(current);
            bool descend = false;
            switch (inline_node.kind) {
                case GfmKind::Text:
                    append_text(tree_.text(current), mode, current);
                    break;
                case GfmKind::Emphasis:
                case GfmKind::Strong: {
                    int& depth = inline_node.kind == GfmKind::Emphasis ? emphasis_depth : strong_depth;
                    const bool active = depth == 0;
                    ++depth;
                    const std::size_t size = inline_node.kind == GfmKind::Emphasis ? 1 : 2;
                    open.push_back({current, out_.size(), active ? size : 0, active});
                    if (active) out_.append(size, '*');
                    descend = true;
                    break;
                }
                case GfmKind::Link:
                    if (inline_node.number != 0) {
                        out_.append("[^").append(std::to_string(inline_node.number)).push_back(']');
                    } else {
                        if (link_depth == 0) out_.push_back('[');
                        ++link_depth;
                        descend = true;
                    }
                    break;
                case GfmKind::Image:
                    out_.append("![");
                    append_plain(tree_.text(current), mode);
                    out_.append("](");
                    append_destination(out_, inline_node.target.size != 0 ? tree_.target(current) : std::string_view{});
                    out_.push_back(')');
                    break;
                case GfmKind::Code:
                    append_code_span(tree_.text(current), mode);
                    break;
                case GfmKind::Break:
                    if (mode == InlineMode::Paragraph) {
                        out_.push_back('\\');
                        new_line();
                    } else if (mode == InlineMode::Cell) {
                        out_.append("<br>");
                    } else {
                        out_.push_back(' ');
                    }
                    break;
                case GfmKind::Anchor:
                    if ((inline_node.flags & ANCHOR_SHOWN) != 0) append_anchor(tree_.target(current));
                    break;
                default:
                    break;
            }
            if (descend && inline_node.first_child != NO_GFM_NODE) {
                current = inline_node.first_child;
                continue;
            }
            if (descend) close_inline(current, root, emphasis_depth, strong_depth, link_depth);
            while (current != root && node(current).next == NO_GFM_NODE) {
                current = node(current).parent;
                if (current != root) close_inline(current, root, emphasis_depth, strong_depth, link_depth);
            }
            current = current == root ? NO_GFM_NODE : node(current).next;
        }
    }

    std::vector<OpenDelimiter> open_delimiters_;

    void close_inline(GfmNodeId id, GfmNodeId root, int& emphasis_depth, int& strong_depth, int& link_depth) {
        const GfmNode& inline_node = node(id);
        if (inline_node.kind == GfmKind::Link) {
            --link_depth;
            if (link_depth == 0) {
                out_.append("](");
                append_destination(out_, inline_node.target.size != 0 ? tree_.target(id) : tree_.text(id));
                out_.push_back(')');
            }
            return;
        }
        if (inline_node.kind != GfmKind::Emphasis && inline_node.kind != GfmKind::Strong) return;
        --(inline_node.kind == GfmKind::Emphasis ? emphasis_depth : strong_depth);
        const OpenDelimiter delimiter = open_delimiters_.back();
        open_delimiters_.pop_back();
        if (!delimiter.active) return;
        const std::size_t content = delimiter.position + delimiter.size;
        if (out_.size() == content) {
            out_.resize(delimiter.position);  // nothing inside: no delimiters either
            return;
        }
        if (!delimiters_hold(delimiter, id, root)) {
            const bool strong = inline_node.kind == GfmKind::Strong;
            out_.replace(delimiter.position, delimiter.size, strong ? "<strong>" : "<em>");
            out_.append(strong ? "</strong>" : "</em>");
            return;
        }
        out_.append(delimiter.size, '*');
    }

    // Whether `*`/`**` around the content just written can only open (the first) and only
    // close (the second) under CommonMark's flanking rules. A delimiter that could do both
    // may pair with another run than ours, so it counts as unsure; when unsure, the caller
    // writes HTML tags instead.
    bool delimiters_hold(const OpenDelimiter& delimiter, GfmNodeId id, GfmNodeId root) const {
        const std::string_view text = out_;
        const std::size_t content = delimiter.position + delimiter.size;
        const CharClass before = delimiter.position == line_start_ || delimiter.position == 0
                                     ? CharClass::Space
                                     : classify(code_point_before(text, delimiter.position));
        const CharClass first = classify(code_point_at(text, content));
        const CharClass last = classify(code_point_before(text, text.size()));
        const CharClass after = following(id, root);
        const GfmNodeId parent = node(id).parent;
        const bool first_child = parent != root && node(parent).first_child == id;
        if (first == CharClass::Space || first == CharClass::Other) return false;
        if (last == CharClass::Space || last == CharClass::Other) return false;
        bool opens = false;
        if (before == CharClass::Star) {
            opens = first_child;  // continues the parent's opening run, which checked its side
        } else {
            opens = before == CharClass::Space || (before == CharClass::Punctuation && first == CharClass::Word);
        }
        bool closes = false;
        if (after == CharClass::Star) {
            closes = false;  // a sibling's opening run would join ours
        } else if (after == CLOSING_RUN) {
            closes = true;  // continues the parent's closing run
        } else {
            closes = after == CharClass::Space || (after == CharClass::Punctuation && last == CharClass::Word);
        }
        return opens && closes;
    }

    // Emphasis inside emphasis of its kind writes no delimiters of its own.
    bool writes_delimiters(GfmNodeId id, GfmNodeId root) const {
        const GfmKind kind = node(id).kind;
        for (GfmNodeId up = node(id).parent; up != root && up != NO_GFM_NODE; up = node(up).parent) {
            if (node(up).kind == kind) return false;
        }
        return true;
    }

    // The class of the first character written after node `id`.
    CharClass following(GfmNodeId id, GfmNodeId root) const {
        GfmNodeId current = id;
        while (true) {
            for (GfmNodeId sibling = node(current).next; sibling != NO_GFM_NODE; sibling = node(sibling).next) {
                const GfmNode& next = node(sibling);
                switch (next.kind) {
                    case GfmKind::Skip: continue;
                    case GfmKind::Anchor:
                        if ((next.flags & ANCHOR_SHOWN) == 0) continue;
                        return CharClass::Punctuation;
                    case GfmKind::Text: {
                        const std::string_view text = tree_.text(sibling);
                        const auto c = static_cast<unsigned char>(text[0]);
                        if (c == '*') return CharClass::Punctuation;  // written escaped
                        return classify(code_point_at(text, 0));
                    }
                    case GfmKind::Emphasis:
                    case GfmKind::Strong:
                        return CharClass::Star;
                    default:
                        return CharClass::Punctuation;
                }
            }
            const GfmNodeId parent = node(current).parent;
            if (parent == root || parent == NO_GFM_NODE) return CharClass::Space;
            if (node(parent).kind == GfmKind::Link) return CharClass::Punctuation;
            if ((node(parent).kind == GfmKind::Emphasis || node(parent).kind == GfmKind::Strong) &&
                writes_delimiters(parent, root)) {
                return CLOSING_RUN;
            }
            current = parent;
        }
    }

    void append_anchor(std::string_view name) {
        out_.append("<a id=\"").append(name).append("\"></a>");
    }

    bool at_line_start() const { return out_.size() == line_start_; }

    // Text that must read back as itself: every character that could start markup here
    // is backslash-escaped.
    void append_text(std::string_view text, InlineMode mode, GfmNodeId) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (at_line_start()) {
                if (c == ' ') continue;  // leading blanks would indent the line into code
                if (c == '#' || c == '>' || c == '+' || c == '-' || c == '=') {
                    out_.push_back('\\');
                    out_.push_back(c);
                    continue;
                }
                if (c >= '0' && c <= '9') {
                    std::size_t end = i;
                    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
                    out_.append(text.substr(i, end - i));
                    if (end < text.size() && (text[end] == '.' || text[end] == ')')) {
                        out_.push_back('\\');
                        out_.push_back(text[end]);
                        ++end;
                    }
                    i = end - 1;
                    continue;
                }
            }
            switch (c) {
                case '\\': case '`': case '*': case '[': case ']': case '<': case '|': case '~':
                    out_.push_back('\\');
                    break;
                case '_': {
                    const bool inside_word = i > 0 && i + 1 < text.size() &&
                                             is_ascii_alnum(static_cast<unsigned char>(text[i - 1])) &&
                                             is_ascii_alnum(static_cast<unsigned char>(text[i + 1]));
                    if (!inside_word) out_.push_back('\\');
                    break;
                }
                case '#':
                    if (mode == InlineMode::Heading) out_.push_back('\\');
                    break;
                case '&':
                    if (looks_like_reference(text, i)) out_.push_back('\\');
                    break;
                case '!':
                    if (i + 1 == text.size()) out_.push_back('\\');  // a link may follow
                    break;
                case ':':
                case '(':
                    // `[^1]:` would define a footnote, `[^1](x)` make a link.
                    if (i == 0 && !out_.empty() && out_.back() == ']') out_.push_back('\\');
                    break;
                case '^':
                    if (!out_.empty() && out_.back() == '[') out_.push_back('\\');  // `[^` opens a footnote
                    break;
                default:
                    break;
            }
            out_.push_back(c);
        }
    }

    // Alternative text of an image: inside brackets, never at a line start.
    void append_plain(std::string_view text, InlineMode mode) {
        const std::size_t saved = line_start_;
        line_start_ = std::string::npos;
        append_text(text, mode == InlineMode::Heading ? InlineMode::Paragraph : mode, NO_GFM_NODE);
        line_start_ = saved;
    }

    void append_code_span(std::string_view text, InlineMode mode) {
        const std::size_t fence = longest_backtick_run(text) + 1;
        if ((!out_.empty() && out_.back() == '`') || fence > MAX_CODE_FENCE) {
            // Right after another backtick run the fences would merge, and readers look for
            // closing runs of 80 backticks at most: an HTML code element then.
            out_.append("<code>");
            append_text(text, mode == InlineMode::Heading ? InlineMode::Paragraph : mode, NO_GFM_NODE);
            out_.append("</code>");
            return;
        }
        bool all_spaces = true;
        for (const char c : text) all_spaces = all_spaces && c == ' ';
        const bool pad = text.front() == '`' || text.back() == '`' ||
                         (text.front() == ' ' && text.back() == ' ' && !all_spaces);
        out_.append(fence, '`');
        if (pad) out_.push_back(' ');
        for (const char c : text) {
            if (c == '|' && mode == InlineMode::Cell) out_.push_back('\\');
            out_.push_back(c);
        }
        if (pad) out_.push_back(' ');
        out_.append(fence, '`');
    }
};

}  // namespace

void render_gfm(const GfmTree& tree, std::string& out) {
    Renderer renderer(tree, out);
    renderer.render();
}

}  // namespace quirelo
