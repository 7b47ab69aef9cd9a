#pragma once
// A read-only, namespace-aware XML tree over one arena, built by expat under the reader's
// document rules: bytes decoded as lossy UTF-8 whatever the declaration says, any DOCTYPE
// refused, only the predefined entities known. Nodes link to parent, first child and next
// sibling, so every walk is a loop, never a recursion: a document nested a million levels
// deep is walked like a flat one.
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/error.hpp"

namespace quirelo {

// The error detail when a document carries a document type declaration.
inline constexpr std::string_view XML_DTD_MESSAGE = "XML with DTD detected";

enum class XmlNodeKind : std::uint8_t {
    Document,
    Element,
    Text,
    // A comment or processing instruction: kept only as a position marker, so that
    // "the first child is text" tests see it.
    Marker,
};

struct XmlAttribute {
    std::string_view namespace_uri;  // empty when the attribute has none
    std::string_view local_name;
    std::string_view value;
};

class XmlDocument;

// A handle to one node of a document; the default handle is null (converts to false).
// Handles stay valid as long as the document is neither destroyed nor moved.
class XmlNode {
public:
    XmlNode() = default;

    explicit operator bool() const { return document_ != nullptr; }
    bool operator==(const XmlNode& other) const = default;

    XmlNodeKind kind() const;
    bool is_element() const { return document_ && kind() == XmlNodeKind::Element; }
    bool is_text() const { return document_ && kind() == XmlNodeKind::Text; }

    // Element name parts; empty for other nodes.
    std::string_view local_name() const;
    std::string_view namespace_uri() const;
    bool is_named(std::string_view name) const { return is_element() && local_name() == name; }
    // The characters of a text node; empty for other nodes.
    std::string_view text() const;

    std::span<const XmlAttribute> attributes() const;
    // The value of the attribute with this local name and no namespace.
    std::optional<std::string_view> attribute(std::string_view local_name) const;

    XmlNode parent() const;
    XmlNode first_child() const;
    XmlNode next_sibling() const;
    // The first direct child element with this local name, in any namespace.
    XmlNode first_child_named(std::string_view name) const;
    // The next sibling element with this local name, in any namespace.
    XmlNode next_sibling_named(std::string_view name) const;

    // The node after this one in document order, staying inside the subtree of scope
    // (which is not itself visited again); null after the subtree's last node.
    XmlNode next_within(XmlNode scope) const;
    // The first element with this local name strictly below this node, in document order.
    XmlNode first_descendant_named(std::string_view name) const;

private:
    friend class XmlDocument;
    XmlNode(const XmlDocument* document, std::uint32_t index) : document_(document), index_(index) {}

    const XmlDocument* document_ = nullptr;
    std::uint32_t index_ = 0;
};

class XmlDocument {
public:
    XmlDocument();
    XmlDocument(XmlDocument&&) noexcept;
    XmlDocument& operator=(XmlDocument&&) noexcept;
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;
    ~XmlDocument();

    // The node above the root element (holding it and any top-level comments).
    XmlNode document_node() const { return XmlNode(this, 0); }
    // The outermost element.
    XmlNode root_element() const;
    std::size_t node_count() const { return nodes_.size(); }

private:
    friend class XmlNode;
    friend class XmlTreeBuilder;

    static constexpr std::uint32_t NONE = UINT32_MAX;

    struct NodeRecord {
        XmlNodeKind kind;
        std::uint32_t parent = NONE;
        std::uint32_t first_child = NONE;
        std::uint32_t last_child = NONE;
        std::uint32_t next_sibling = NONE;
        std::uint32_t first_attribute = 0;
        std::uint32_t attribute_count = 0;
        std::string_view name_or_text = {};  // local name of an element, characters of a text
        std::string_view namespace_uri = {};
    };

    // Storage for every string of the tree: large blocks that never move.
    struct Arena {
        std::vector<std::unique_ptr<char[]>> blocks;
        char* cursor = nullptr;
        std::size_t remaining = 0;
        std::string_view store(std::string_view text);
    };

    std::vector<NodeRecord> nodes_;
    std::vector<XmlAttribute> attributes_;
    Arena arena_;
};

// Parses one document under the reader's rules. A failure is an ErrorKind::Xml error whose
// detail is the parser's message with its position, or XML_DTD_MESSAGE.
Result<XmlDocument> parse_xml(std::string_view bytes);

// The characters of the first direct child that is a text node (comments, instructions
// and elements before it skipped); empty when there is none.
std::string_view first_text(XmlNode element);
// The characters of the first child node when it is a text node, else empty.
std::string_view child_text(XmlNode element);
// All text below the element, joined without separators, then trimmed of White_Space.
std::string all_text(XmlNode element);

}  // namespace quirelo
