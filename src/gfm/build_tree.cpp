#include "gfm/build_tree.hpp"

#include <lexbor/dom/interfaces/character_data.h>
#include <lexbor/html/html.h>

#include <charconv>
#include <string>
#include <string_view>
#include <vector>

namespace quirelo {

namespace {

// What an element means here.
enum class Role : std::uint8_t {
    Inline,     // no meaning of its own (span, sup, unknown elements): its content flows
    Boundary,   // a block that only separates paragraphs (p, div, section, ...)
    Dropped,    // nothing of it is kept (script, style, page-break markers, rt, ...)
    Heading,
    Quote,
    List,
    Item,
    Table,
    Row,
    Cell,
    Caption,
    Preformatted,
    Rule,
    Emphasis,
    Strong,
    Code,
    Link,
    Image,
    Break,
    Math,
    Svg,
};

struct ElementFacts {
    Role role = Role::Inline;
    std::string_view id;
    std::string_view href;
    std::string_view src;
    std::string_view alt;
    std::string_view alttext;
    std::uint32_t start = 1;
    bool has_href = false;
    bool ordered = false;
    bool spans = false;        // colspan or rowspan above 1
    bool note = false;         // an EPUB footnote, endnote or rearnote
    bool note_reference = false;
    int heading_level = 0;
};

// HTML's white space, and the vertical tab, which Markdown readers strip as white space too.
constexpr bool is_html_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == '\v'; }

std::string_view attribute_value(const lxb_dom_attr_t* attribute) {
    if (attribute->value == nullptr || attribute->value->data == nullptr) return {};
    return {reinterpret_cast<const char*>(attribute->value->data), attribute->value->length};
}

bool has_token(std::string_view list, std::string_view token) {
    std::size_t position = 0;
    while (position < list.size()) {
        while (position < list.size() && is_html_space(list[position])) ++position;
        std::size_t end = position;
        while (end < list.size() && !is_html_space(list[end])) ++end;
        if (list.substr(position, end - position) == token) return true;
        position = end;
    }
    return false;
}

bool above_one(std::string_view value) {
    std::size_t position = 0;
    while (position < value.size() && is_html_space(value[position])) ++position;
    std::uint32_t number = 0;
    const auto result = std::from_chars(value.data() + position, value.data() + value.size(), number);
    return result.ec == std::errc{} && number > 1;
}

// An ordered list's start, clamped to what a Markdown list marker can carry (nine digits).
std::uint32_t list_start(std::string_view value) {
    std::size_t position = 0;
    while (position < value.size() && is_html_space(value[position])) ++position;
    long long number = 1;
    const auto result = std::from_chars(value.data() + position, value.data() + value.size(), number);
    if (result.ec == std::errc::result_out_of_range) return value[position] == '-' ? 0 : 999'999'999;
    if (result.ec != std::errc{}) return 1;
    if (number < 0) return 0;
    return number > 999'999'999 ? 999'999'999 : static_cast<std::uint32_t>(number);
}

Role html_role(lxb_tag_id_t tag, ElementFacts& facts) {
    switch (tag) {
        case LXB_TAG_SCRIPT: case LXB_TAG_STYLE: case LXB_TAG_TEMPLATE: case LXB_TAG_HEAD: case LXB_TAG_TITLE:
        case LXB_TAG_RT: case LXB_TAG_RP: case LXB_TAG_IFRAME: case LXB_TAG_NOEMBED: case LXB_TAG_NOFRAMES:
            return Role::Dropped;
        case LXB_TAG_H1: facts.heading_level = 1; return Role::Heading;
        case LXB_TAG_H2: facts.heading_level = 2; return Role::Heading;
        case LXB_TAG_H3: facts.heading_level = 3; return Role::Heading;
        case LXB_TAG_H4: facts.heading_level = 4; return Role::Heading;
        case LXB_TAG_H5: facts.heading_level = 5; return Role::Heading;
        case LXB_TAG_H6: facts.heading_level = 6; return Role::Heading;
        case LXB_TAG_P: case LXB_TAG_DIV: case LXB_TAG_SECTION: case LXB_TAG_ARTICLE: case LXB_TAG_ASIDE:
        case LXB_TAG_NAV: case LXB_TAG_HEADER: case LXB_TAG_FOOTER: case LXB_TAG_MAIN: case LXB_TAG_HGROUP:
        case LXB_TAG_FIGURE: case LXB_TAG_FIGCAPTION: case LXB_TAG_ADDRESS: case LXB_TAG_CENTER:
        case LXB_TAG_DETAILS: case LXB_TAG_SUMMARY: case LXB_TAG_DL: case LXB_TAG_DT: case LXB_TAG_DD:
        case LXB_TAG_FORM: case LXB_TAG_FIELDSET: case LXB_TAG_LEGEND: case LXB_TAG_BODY: case LXB_TAG_HTML:
        case LXB_TAG_OPTION: case LXB_TAG_VIDEO: case LXB_TAG_AUDIO: case LXB_TAG_OBJECT: case LXB_TAG_SEARCH:
            return Role::Boundary;
        case LXB_TAG_BLOCKQUOTE: return Role::Quote;
        case LXB_TAG_UL: case LXB_TAG_MENU: case LXB_TAG_DIR: return Role::List;
        case LXB_TAG_OL: facts.ordered = true; return Role::List;
        case LXB_TAG_LI: return Role::Item;
        case LXB_TAG_TABLE: return Role::Table;
        case LXB_TAG_TR: return Role::Row;
        case LXB_TAG_TD: case LXB_TAG_TH: return Role::Cell;
        case LXB_TAG_CAPTION: return Role::Caption;
        case LXB_TAG_PRE: case LXB_TAG_LISTING: case LXB_TAG_XMP: case LXB_TAG_PLAINTEXT: return Role::Preformatted;
        case LXB_TAG_HR: return Role::Rule;
        case LXB_TAG_EM: case LXB_TAG_I: case LXB_TAG_CITE: case LXB_TAG_DFN: case LXB_TAG_VAR:
            return Role::Emphasis;
        case LXB_TAG_STRONG: case LXB_TAG_B: return Role::Strong;
        case LXB_TAG_CODE: case LXB_TAG_KBD: case LXB_TAG_SAMP: case LXB_TAG_TT: return Role::Code;
        case LXB_TAG_A: return Role::Link;
        case LXB_TAG_IMG: return Role::Image;
        case LXB_TAG_BR: return Role::Break;
        default: return Role::Inline;
    }
}

ElementFacts read_element(const lxb_dom_node_t* node) {
    ElementFacts facts;
    const bool html = node->ns == LXB_NS_HTML;
    if (node->ns == LXB_NS_MATH) {
        facts.role = node->local_name == LXB_TAG_MATH ? Role::Math : Role::Inline;
    } else if (node->ns == LXB_NS_SVG) {
        facts.role = node->local_name == LXB_TAG_SVG ? Role::Svg : Role::Inline;
    } else if (html) {
        facts.role = html_role(node->local_name, facts);
    }
    std::string_view epub_type;
    std::string_view aria_role;
    std::string_view name;
    const auto* element = lxb_dom_interface_element(node);
    for (const lxb_dom_attr_t* attribute = element->first_attr; attribute != nullptr; attribute = attribute->next) {
        std::size_t length = 0;
        const lxb_char_t* raw = lxb_dom_attr_local_name(attribute, &length);
        const std::string_view key(reinterpret_cast<const char*>(raw), raw != nullptr ? length : 0);
        const std::string_view value = attribute_value(attribute);
        if (key == "id") facts.id = value;
        else if (key == "href") { facts.href = value; facts.has_href = true; }
        else if (key == "src") facts.src = value;
        else if (key == "alt") facts.alt = value;
        else if (key == "alttext") facts.alttext = value;
        else if (key == "start") facts.start = list_start(value);
        else if (key == "colspan" || key == "rowspan") facts.spans = facts.spans || above_one(value);
        else if (key == "epub:type") epub_type = value;
        else if (key == "role") aria_role = value;
        else if (key == "name") name = value;
    }
    if (!html) return facts;
    if (facts.id.empty() && node->local_name == LXB_TAG_A) facts.id = name;
    if (has_token(epub_type, "pagebreak") || has_token(aria_role, "doc-pagebreak")) {
        facts.role = Role::Dropped;
        return facts;
    }
    facts.note_reference = has_token(epub_type, "noteref") || has_token(aria_role, "doc-noteref");
    facts.note = !facts.id.empty() &&
                 (has_token(epub_type, "footnote") || has_token(epub_type, "endnote") ||
                  has_token(epub_type, "rearnote") || has_token(epub_type, "note") ||
                  has_token(aria_role, "doc-footnote") || has_token(aria_role, "doc-endnote"));
    if (facts.role == Role::Link && !facts.has_href) facts.role = Role::Inline;
    return facts;
}

std::string_view text_of(const lxb_dom_node_t* node) {
    const auto* data = lxb_dom_interface_character_data(node);
    return {reinterpret_cast<const char*>(data->data.data), data->data.length};
}

// The text of a subtree in document order, without recursion; `br` gives a line feed.
// Dropped elements (and rt, rp) give nothing.
void collect_text(const lxb_dom_node_t* root, std::string& out) {
    const lxb_dom_node_t* node = root->first_child;
    while (node != nullptr) {
        bool descend = false;
        if (node->type == LXB_DOM_NODE_TYPE_TEXT) {
            out.append(text_of(node));
        } else if (node->type == LXB_DOM_NODE_TYPE_ELEMENT) {
            if (node->ns == LXB_NS_HTML && node->local_name == LXB_TAG_BR) {
                out.push_back('\n');
            } else {
                ElementFacts facts;
                descend = node->ns != LXB_NS_HTML || html_role(node->local_name, facts) != Role::Dropped;
            }
        }
        if (descend && node->first_child != nullptr) {
            node = node->first_child;
            continue;
        }
        while (node != root && node->next == nullptr) node = node->parent;
        node = node == root ? nullptr : node->next;
    }
}

// The first `title` child of an SVG element, if any.
const lxb_dom_node_t* svg_title(const lxb_dom_node_t* svg) {
    for (const lxb_dom_node_t* child = svg->first_child; child != nullptr; child = child->next) {
        if (child->type == LXB_DOM_NODE_TYPE_ELEMENT && child->local_name == LXB_TAG_TITLE) return child;
    }
    return nullptr;
}

// Runs of HTML white space become one blank; leading and trailing runs are reported.
struct Collapsed {
    bool leading_space = false;
    bool trailing_space = false;
};

Collapsed collapse_white_space(std::string_view text, std::string& out) {
    Collapsed result;
    bool space = false;
    for (const char c : text) {
        if (is_html_space(c)) {
            space = true;
            continue;
        }
        if (space) {
            if (out.empty()) {
                result.leading_space = true;
            } else {
                out.push_back(' ');
            }
            space = false;
        }
        out.push_back(c);
    }
    if (out.empty()) {
        result.leading_space = space;
    } else {
        result.trailing_space = space;
    }
    return result;
}

// One open container: the node and the element that opened it (null when implicit).
struct BlockFrame {
    GfmNodeId node;
    const lxb_dom_node_t* element;
    GfmNodeId before = NO_GFM_NODE;  // for a table: the sibling before it, where a caption goes
};

// One open inline element; `node` is NO_GFM_NODE until content arrives in it (and again
// after a block boundary, so it opens anew in the next paragraph).
struct InlineFrame {
    GfmKind kind;
    const lxb_dom_node_t* element;
    PoolSpan href;
    std::uint8_t flags;
    GfmNodeId node = NO_GFM_NODE;
};

// What entering an element did, undone when leaving it.
enum class Action : std::uint8_t { Nothing, Boundary, Space, Block, Inline, Heading };

class TreeBuilder {
public:
    explicit TreeBuilder(GfmTree& tree) : tree_(tree) { blocks_.push_back({0, nullptr}); }

    void build(const lxb_dom_node_t* body) {
        const lxb_dom_node_t* node = body->first_child;
        while (node != nullptr) {
            const bool descend = enter(node);
            if (descend && node->first_child != nullptr) {
                node = node->first_child;
                continue;
            }
            if (descend) leave();
            while (node != body && node->next == nullptr) {
                node = node->parent;
                if (node != body) leave();
            }
            node = node == body ? nullptr : node->next;
        }
        close_inline_root();
        while (blocks_.size() > 1) pop_block();
    }

private:
    GfmTree& tree_;
    std::vector<BlockFrame> blocks_;
    std::vector<InlineFrame> inlines_;
    std::vector<Action> actions_;
    std::vector<PoolSpan> pending_anchors_;
    std::string scratch_;
    GfmNodeId inline_root_ = NO_GFM_NODE;  // the open Paragraph or Heading
    GfmNodeId last_break_ = NO_GFM_NODE;   // a Break not yet followed by content
    int heading_level_ = 0;                // inside a heading element: blocks only separate words
    bool pending_space_ = false;

    // Returns whether to walk into the element (and call leave() after its children).
    bool enter(const lxb_dom_node_t* node) {
        if (node->type == LXB_DOM_NODE_TYPE_TEXT) {
            add_text(text_of(node));
            return false;
        }
        if (node->type != LXB_DOM_NODE_TYPE_ELEMENT) return false;
        const ElementFacts facts = read_element(node);
        if (!facts.id.empty()) pending_anchors_.push_back(tree_.store(facts.id));
        if (heading_level_ > 0) return enter_in_heading(node, facts);
        if (facts.note) return push_note(node, facts);
        switch (facts.role) {
            case Role::Dropped:
                return false;
            case Role::Inline:
                return push_action(Action::Nothing);
            case Role::Boundary:
                close_inline_root();
                return push_action(Action::Boundary);
            case Role::Heading:
                close_inline_root();
                heading_level_ = facts.heading_level;
                return push_action(Action::Heading);
            case Role::Quote:
                return push_block(GfmKind::Quote, node);
            case Role::List: {
                const bool pushed = push_block(GfmKind::List, node);
                GfmNode& list = tree_.nodes[blocks_.back().node];
                if (facts.ordered) {
                    list.flags |= ORDERED;
                    list.number = facts.start;
                }
                return pushed;
            }
            case Role::Item:
                if (current_kind() == GfmKind::Item && blocks_.back().element == nullptr) pop_block();
                if (current_kind() != GfmKind::List) {
                    close_inline_root();
                    return push_action(Action::Boundary);
                }
                return push_block(GfmKind::Item, node, true);
            case Role::Table:
                return push_block(GfmKind::Table, node);
            case Role::Row:
                pop_implicit_to(GfmKind::Table);
                if (current_kind() != GfmKind::Table) return push_action(Action::Boundary);
                return push_block(GfmKind::Row, node, true);
            case Role::Cell: {
                pop_implicit_to(GfmKind::Row);
                if (current_kind() == GfmKind::Table) open_implicit(GfmKind::Row);
                if (current_kind() != GfmKind::Row) return push_action(Action::Boundary);
                const bool pushed = push_block(GfmKind::Cell, node, true);
                if (facts.spans) tree_.nodes[blocks_.back().node].flags |= SPANNING_CELL;
                return pushed;
            }
            case Role::Caption: {
                pop_implicit_to(GfmKind::Table);
                if (current_kind() != GfmKind::Table) return push_action(Action::Boundary);
                const bool pushed = push_block(GfmKind::Cell, node, true);
                tree_.nodes[blocks_.back().node].flags |= CAPTION;
                return pushed;
            }
            case Role::Preformatted:
                add_code_block(node);
                return false;
            case Role::Rule:
                add_leaf_block(GfmKind::Rule);
                return false;
            case Role::Emphasis:
                return push_inline(GfmKind::Emphasis, node, {}, 0);
            case Role::Strong:
                return push_inline(GfmKind::Strong, node, {}, 0);
            case Role::Link:
                return push_inline(GfmKind::Link, node, tree_.store(facts.href),
                                   facts.note_reference ? NOTE_REFERENCE : 0);
            case Role::Code:
                add_code_span(node);
                return false;
            case Role::Image:
                add_image(facts);
                return false;
            case Role::Break:
                add_break();
                return false;
            case Role::Math:
            case Role::Svg:
                add_replacement_text(node, facts);
                return false;
        }
        return false;
    }

    // Inside a heading every block only separates words: a heading holds one line.
    bool enter_in_heading(const lxb_dom_node_t* node, const ElementFacts& facts) {
        switch (facts.role) {
            case Role::Dropped: return false;
            case Role::Emphasis: return push_inline(GfmKind::Emphasis, node, {}, 0);
            case Role::Strong: return push_inline(GfmKind::Strong, node, {}, 0);
            case Role::Link:
                return push_inline(GfmKind::Link, node, tree_.store(facts.href), facts.note_reference ? NOTE_REFERENCE : 0);
            case Role::Code: add_code_span(node); return false;
            case Role::Image: add_image(facts); return false;
            case Role::Math: case Role::Svg: add_replacement_text(node, facts); return false;
            case Role::Inline: return push_action(Action::Nothing);
            case Role::Break: pending_space_ = true; return false;
            case Role::Preformatted: {
                std::string text;
                collect_text(node, text);
                add_text(text);
                return false;
            }
            default:
                pending_space_ = true;
                return push_action(Action::Space);
        }
    }

    void leave() {
        const Action action = actions_.back();
        actions_.pop_back();
        switch (action) {
            case Action::Nothing: break;
            case Action::Boundary: close_inline_root(); break;
            case Action::Space: pending_space_ = true; break;
            case Action::Heading:
                close_inline_root();
                heading_level_ = 0;
                break;
            case Action::Inline: inlines_.pop_back(); break;
            case Action::Block:
                // Implicit items, rows and cells opened inside the element close with it.
                while (blocks_.back().element == nullptr) pop_block();
                pop_block();
                break;
        }
    }

    bool push_action(Action action) {
        actions_.push_back(action);
        return true;
    }

    GfmKind current_kind() const { return tree_.nodes[blocks_.back().node].kind; }

    void pop_implicit_to(GfmKind kind) {
        while (blocks_.back().element == nullptr && blocks_.size() > 1 && current_kind() != kind) pop_block();
    }

    void open_implicit(GfmKind kind) {
        const GfmNodeId node = tree_.add(blocks_.back().node, kind);
        blocks_.push_back({node, nullptr});
    }

    // The container that takes a block or a paragraph here: a list takes only items, a
    // table only rows, a row only cells, so content found in them opens one.
    GfmNodeId block_container() {
        switch (current_kind()) {
            case GfmKind::List: open_implicit(GfmKind::Item); break;
            case GfmKind::Table: open_implicit(GfmKind::Row); open_implicit(GfmKind::Cell); break;
            case GfmKind::Row: open_implicit(GfmKind::Cell); break;
            default: break;
        }
        return blocks_.back().node;
    }

    // `direct`: the element is what the current container takes (an item in a list).
    bool push_block(GfmKind kind, const lxb_dom_node_t* element, bool direct = false) {
        close_inline_root();
        const GfmNodeId parent = direct ? blocks_.back().node : block_container();
        const GfmNodeId before = tree_.nodes[parent].last_child;
        const GfmNodeId node = tree_.add(parent, kind);
        blocks_.push_back({node, element, before});
        return push_action(Action::Block);
    }

    bool push_note(const lxb_dom_node_t* element, const ElementFacts& facts) {
        close_inline_root();
        // A note that is a list item stands in the list itself: hoisted, it leaves no empty item.
        if (current_kind() == GfmKind::Item && blocks_.back().element == nullptr) pop_block();
        const GfmNodeId parent = current_kind() == GfmKind::List ? blocks_.back().node : block_container();
        const GfmNodeId node = tree_.add(parent, GfmKind::Note);
        tree_.nodes[node].text = tree_.store(facts.id);
        tree_.notes.push_back(node);
        blocks_.push_back({node, element});
        return push_action(Action::Block);
    }

    void pop_block() {
        close_inline_root();
        const BlockFrame frame = blocks_.back();
        blocks_.pop_back();
        GfmNode& node = tree_.nodes[frame.node];
        switch (node.kind) {
            case GfmKind::Quote:
            case GfmKind::List:
                if (!has_block_child(frame.node)) node.kind = GfmKind::Skip;
                break;
            case GfmKind::Table:
                finish_table(frame);
                break;
            default:
                break;
        }
    }

    bool has_block_child(GfmNodeId id) const {
        for (GfmNodeId child = tree_.nodes[id].first_child; child != NO_GFM_NODE; child = tree_.nodes[child].next) {
            if (tree_.nodes[child].kind != GfmKind::Skip) return true;
        }
        return false;
    }

    // A table whose cells each hold at most one paragraph, with no spans, is a pipe
    // table; any other becomes a list with one item per row holding each cell's blocks
    // in turn. A caption becomes the paragraphs before the table either way.
    void finish_table(const BlockFrame& frame) {
        GfmNodeId table = frame.node;
        bool simple = true;
        bool any_row = false;
        GfmNodeId caption = NO_GFM_NODE;
        GfmNodeId previous = NO_GFM_NODE;
        for (GfmNodeId row = tree_.nodes[table].first_child; row != NO_GFM_NODE; row = tree_.nodes[row].next) {
            GfmNode& row_node = tree_.nodes[row];
            if (row_node.kind == GfmKind::Cell && (row_node.flags & CAPTION) != 0 && caption == NO_GFM_NODE) {
                caption = row;
                // Unlink the caption from the table.
                if (previous == NO_GFM_NODE) {
                    tree_.nodes[table].first_child = row_node.next;
                } else {
                    tree_.nodes[previous].next = row_node.next;
                }
                if (tree_.nodes[table].last_child == row) tree_.nodes[table].last_child = previous;
                continue;
            }
            previous = row;
            if (row_node.kind != GfmKind::Row) {
                if (row_node.kind != GfmKind::Skip) simple = false;
                continue;
            }
            any_row = true;
            for (GfmNodeId cell = row_node.first_child; cell != NO_GFM_NODE; cell = tree_.nodes[cell].next) {
                const GfmNode& cell_node = tree_.nodes[cell];
                if (cell_node.kind != GfmKind::Cell || (cell_node.flags & SPANNING_CELL) != 0) {
                    simple = false;
                    continue;
                }
                int blocks = 0;
                for (GfmNodeId child = cell_node.first_child; child != NO_GFM_NODE; child = tree_.nodes[child].next) {
                    const GfmKind kind = tree_.nodes[child].kind;
                    if (kind == GfmKind::Skip) continue;
                    if (kind != GfmKind::Paragraph || ++blocks > 1) simple = false;
                }
            }
        }
        if (caption != NO_GFM_NODE) {
            tree_.nodes[caption].next = NO_GFM_NODE;
            insert_children_before(caption, frame.before, table);
        }
        if (!any_row) {
            tree_.nodes[table].kind = GfmKind::Skip;
            return;
        }
        if (simple) return;
        GfmNode& list = tree_.nodes[table];
        list.kind = GfmKind::List;
        list.flags = DEGRADED_TABLE;
        for (GfmNodeId row = list.first_child; row != NO_GFM_NODE; row = tree_.nodes[row].next) {
            if (tree_.nodes[row].kind != GfmKind::Row) continue;
            tree_.nodes[row].kind = GfmKind::Item;
            const GfmNodeId last_cell = tree_.nodes[row].last_child;
            for (GfmNodeId cell = tree_.nodes[row].first_child; cell != NO_GFM_NODE;) {
                const GfmNodeId next = tree_.nodes[cell].next;
                tree_.move_children(cell, row);
                tree_.nodes[cell].kind = GfmKind::Skip;
                if (cell == last_cell) break;
                cell = next;
            }
        }
    }

    // Moves the children of `from` into the table's parent, just before the table.
    void insert_children_before(GfmNodeId from, GfmNodeId before, GfmNodeId table) {
        GfmNode& source = tree_.nodes[from];
        if (source.first_child == NO_GFM_NODE) return;
        const GfmNodeId parent = tree_.nodes[table].parent;
        for (GfmNodeId child = source.first_child; child != NO_GFM_NODE; child = tree_.nodes[child].next) {
            tree_.nodes[child].parent = parent;
        }
        tree_.nodes[source.last_child].next = table;
        if (before == NO_GFM_NODE) {
            tree_.nodes[parent].first_child = source.first_child;
        } else {
            tree_.nodes[before].next = source.first_child;
        }
        source.first_child = source.last_child = NO_GFM_NODE;
    }

    bool push_inline(GfmKind kind, const lxb_dom_node_t* element, PoolSpan href, std::uint8_t flags) {
        inlines_.push_back({kind, element, href, flags});
        return push_action(Action::Inline);
    }

    void close_inline_root() {
        if (inline_root_ == NO_GFM_NODE) return;
        // A line break that ends a paragraph would be a literal backslash.
        if (last_break_ != NO_GFM_NODE) tree_.nodes[last_break_].kind = GfmKind::Skip;
        last_break_ = NO_GFM_NODE;
        inline_root_ = NO_GFM_NODE;
        pending_space_ = false;
        for (InlineFrame& frame : inlines_) frame.node = NO_GFM_NODE;
    }

    // Where content goes now: the paragraph (or heading) opened on demand, every open
    // inline element materialised inside it, anchors and a pending blank placed first.
    GfmNodeId content_target() {
        if (inline_root_ == NO_GFM_NODE) {
            const GfmNodeId container = block_container();
            inline_root_ = tree_.add(container, heading_level_ > 0 ? GfmKind::Heading : GfmKind::Paragraph);
            tree_.nodes[inline_root_].number = static_cast<std::uint32_t>(heading_level_);
            if (tree_.first_inline_block == NO_GFM_NODE) tree_.first_inline_block = inline_root_;
            pending_space_ = false;
        }
        GfmNodeId target = inline_root_;
        std::size_t open = 0;
        while (open < inlines_.size() && inlines_[open].node != NO_GFM_NODE) target = inlines_[open++].node;
        if (pending_space_) {
            if (tree_.has_children(inline_root_)) tree_.append_text(target, " ");
            pending_space_ = false;
        }
        for (const PoolSpan anchor : pending_anchors_) {
            const GfmNodeId node = tree_.add(target, GfmKind::Anchor);
            tree_.nodes[node].text = anchor;
            tree_.anchors.push_back(node);
        }
        pending_anchors_.clear();
        for (; open < inlines_.size(); ++open) {
            InlineFrame& frame = inlines_[open];
            const GfmNodeId last = tree_.nodes[target].last_child;
            // Adjacent emphasis of one kind is one run: `*a**b*` would not parse back.
            if (frame.kind != GfmKind::Link && last != NO_GFM_NODE && tree_.nodes[last].kind == frame.kind) {
                frame.node = last;
            } else {
                frame.node = tree_.add(target, frame.kind);
                tree_.nodes[frame.node].text = frame.href;
                tree_.nodes[frame.node].flags = frame.flags;
                if (frame.kind == GfmKind::Link) tree_.links.push_back(frame.node);
            }
            target = frame.node;
        }
        last_break_ = NO_GFM_NODE;
        return target;
    }

    void add_text(std::string_view text) {
        scratch_.clear();
        const Collapsed collapsed = collapse_white_space(text, scratch_);
        if (scratch_.empty()) {
            pending_space_ = pending_space_ || collapsed.leading_space;
            return;
        }
        if (collapsed.leading_space) pending_space_ = true;
        const GfmNodeId target = content_target();
        tree_.append_text(target, scratch_);
        pending_space_ = collapsed.trailing_space;
    }

    void add_code_span(const lxb_dom_node_t* node) {
        std::string raw;
        collect_text(node, raw);
        scratch_.clear();
        const Collapsed collapsed = collapse_white_space(raw, scratch_);
        if (scratch_.empty()) {
            pending_space_ = pending_space_ || collapsed.leading_space;
            return;
        }
        if (collapsed.leading_space) pending_space_ = true;
        const GfmNodeId target = content_target();
        const GfmNodeId last = tree_.nodes[target].last_child;
        if (last != NO_GFM_NODE && tree_.nodes[last].kind == GfmKind::Code &&
            tree_.nodes[last].text.offset + tree_.nodes[last].text.size == tree_.pool.size()) {
            // Adjacent code spans are one: two backtick fences in a row would merge.
            tree_.pool.append(scratch_);
            tree_.nodes[last].text.size += static_cast<std::uint32_t>(scratch_.size());
        } else {
            const GfmNodeId code = tree_.add(target, GfmKind::Code);
            tree_.nodes[code].text = tree_.store(scratch_);
        }
        pending_space_ = collapsed.trailing_space;
    }

    void add_image(const ElementFacts& facts) {
        scratch_.clear();
        collapse_white_space(facts.alt, scratch_);
        const GfmNodeId target = content_target();
        const GfmNodeId image = tree_.add(target, GfmKind::Image);
        tree_.nodes[image].text = tree_.store(scratch_);
        tree_.nodes[image].target = tree_.store(facts.src);
    }

    void add_break() {
        if (inline_root_ == NO_GFM_NODE || !tree_.has_children(inline_root_)) return;
        pending_space_ = false;
        GfmNodeId target = inline_root_;
        for (const InlineFrame& frame : inlines_) {
            if (frame.node == NO_GFM_NODE) break;
            target = frame.node;
        }
        if (last_break_ != NO_GFM_NODE) {
            // Two breaks in a row give one: a line of a lone backslash is not a break.
            return;
        }
        last_break_ = tree_.add(target, GfmKind::Break);
    }

    // MathML: its alttext, else its text; SVG: its title, else its text.
    void add_replacement_text(const lxb_dom_node_t* node, const ElementFacts& facts) {
        std::string text;
        if (facts.role == Role::Math && !facts.alttext.empty()) {
            text.assign(facts.alttext);
        } else if (const lxb_dom_node_t* title = facts.role == Role::Svg ? svg_title(node) : nullptr) {
            collect_text(title, text);
        } else {
            collect_text(node, text);
        }
        add_text(text);
    }

    void add_code_block(const lxb_dom_node_t* node) {
        std::string text;
        collect_text(node, text);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        bool blank = true;
        for (const char c : text) blank = blank && is_html_space(c);
        if (blank) return;
        const GfmNodeId block = add_leaf_block(GfmKind::CodeBlock);
        tree_.nodes[block].text = tree_.store(text);
    }

    GfmNodeId add_leaf_block(GfmKind kind) {
        close_inline_root();
        const GfmNodeId container = block_container();
        return tree_.add(container, kind);
    }

};

}  // namespace

void build_gfm_tree(const lxb_dom_node* body, GfmTree& tree) {
    tree.clear();
    if (body == nullptr) return;
    TreeBuilder builder(tree);
    builder.build(body);
}

}  // namespace quirelo
