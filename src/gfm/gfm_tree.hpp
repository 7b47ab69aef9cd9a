#pragma once
// The structured form of one document between the HTML5 tree and the GFM text: a compact
// arena of block and inline nodes. Children are a singly linked list (first_child, next)
// so that appending, splicing and walking never recurse and never allocate per node
// beyond the arena itself. Strings (text, hrefs, ids) live in one pool per tree.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quirelo {

using GfmNodeId = std::uint32_t;
inline constexpr GfmNodeId NO_GFM_NODE = 0xFFFFFFFFu;

enum class GfmKind : std::uint8_t {
    // Blocks.
    Document,
    Heading,    // number: level 1..6
    Paragraph,
    List,       // flags: ORDERED, DEGRADED_TABLE; number: start
    Item,
    Quote,
    Table,      // rows only: a pipe table (one a pipe table cannot hold is rebuilt as a List)
    Row,
    Cell,       // blocks; flags: SPANNING_CELL, CAPTION (only while its table is built)
    CodeBlock,  // text: the literal content
    Rule,
    Note,       // an EPUB footnote or endnote; number: footnote number, 0 when rendered in place
    // Inlines.
    Text,      // text: collapsed, unescaped
    Emphasis,
    Strong,
    Code,      // text: the literal content
    Link,      // text: href as written; target: resolved destination; number: footnote number
    Image,     // text: alt; target: source
    Break,
    Anchor,    // text: the element's id; flags: ANCHOR_SHOWN once a link points at it
    Skip,      // a node removed after the fact (a trailing line break)
};

inline constexpr std::uint8_t ORDERED = 1;
inline constexpr std::uint8_t NOTE_REFERENCE = 2;  // a Link marked as a note reference
inline constexpr std::uint8_t ANCHOR_SHOWN = 4;
inline constexpr std::uint8_t DEGRADED_TABLE = 8;  // a List that was a table, one item per row
inline constexpr std::uint8_t SPANNING_CELL = 16;  // colspan or rowspan above 1
inline constexpr std::uint8_t CAPTION = 32;

// A view into the tree's string pool.
struct PoolSpan {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
};

struct GfmNode {
    GfmNodeId parent = NO_GFM_NODE;
    GfmNodeId first_child = NO_GFM_NODE;
    GfmNodeId last_child = NO_GFM_NODE;
    GfmNodeId next = NO_GFM_NODE;
    PoolSpan text;
    PoolSpan target;
    std::uint32_t number = 0;
    GfmKind kind = GfmKind::Document;
    std::uint8_t flags = 0;
};

constexpr bool is_block(GfmKind kind) { return kind <= GfmKind::Note; }

struct GfmTree {
    std::vector<GfmNode> nodes;  // nodes[0] is the Document
    std::string pool;
    // Filled while building, for the book-level pass: every Link, Anchor and Note.
    std::vector<GfmNodeId> links;
    std::vector<GfmNodeId> anchors;
    std::vector<GfmNodeId> notes;
    // Whether a document-start anchor has a place: the first paragraph or heading, if any.
    GfmNodeId first_inline_block = NO_GFM_NODE;
    // Shown before the first inline block when a link points at the document itself.
    std::string start_anchor;

    GfmTree();
    void clear();

    GfmNodeId add(GfmNodeId parent, GfmKind kind);
    PoolSpan store(std::string_view text);
    std::string_view view(PoolSpan span) const { return {pool.data() + span.offset, span.size}; }
    std::string_view text(GfmNodeId id) const { return view(nodes[id].text); }
    std::string_view target(GfmNodeId id) const { return view(nodes[id].target); }
    // Appends to the parent's last child when it is a Text node ending the pool, else adds one.
    void append_text(GfmNodeId parent, std::string_view text);
    // Moves every child of `from` to the end of `to`'s children.
    void move_children(GfmNodeId from, GfmNodeId to);
    bool has_children(GfmNodeId id) const { return nodes[id].first_child != NO_GFM_NODE; }
};

}  // namespace quirelo
