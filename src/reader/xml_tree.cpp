#include "reader/xml_tree.hpp"

#include <expat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "text/unicode_properties.hpp"
#include "text/utf8.hpp"

namespace quirelo {

// ---- XmlNode -------------------------------------------------------------------------

XmlNodeKind XmlNode::kind() const { return document_->nodes_[index_].kind; }

std::string_view XmlNode::local_name() const {
    if (!is_element()) return {};
    return document_->nodes_[index_].name_or_text;
}

std::string_view XmlNode::namespace_uri() const {
    if (!is_element()) return {};
    return document_->nodes_[index_].namespace_uri;
}

std::string_view XmlNode::text() const {
    if (!is_text()) return {};
    return document_->nodes_[index_].name_or_text;
}

std::span<const XmlAttribute> XmlNode::attributes() const {
    if (!is_element()) return {};
    const auto& record = document_->nodes_[index_];
    return std::span(document_->attributes_).subspan(record.first_attribute, record.attribute_count);
}

std::optional<std::string_view> XmlNode::attribute(std::string_view name) const {
    for (const auto& attribute : attributes()) {
        if (attribute.namespace_uri.empty() && attribute.local_name == name) return attribute.value;
    }
    return std::nullopt;
}

XmlNode XmlNode::parent() const {
    if (!document_) return {};
    const auto next = document_->nodes_[index_].parent;
    return next == XmlDocument::NONE ? XmlNode() : XmlNode(document_, next);
}

XmlNode XmlNode::first_child() const {
    if (!document_) return {};
    const auto next = document_->nodes_[index_].first_child;
    return next == XmlDocument::NONE ? XmlNode() : XmlNode(document_, next);
}

XmlNode XmlNode::next_sibling() const {
    if (!document_) return {};
    const auto next = document_->nodes_[index_].next_sibling;
    return next == XmlDocument::NONE ? XmlNode() : XmlNode(document_, next);
}

XmlNode XmlNode::first_child_named(std::string_view name) const {
    for (XmlNode child = first_child(); child; child = child.next_sibling()) {
        if (child.is_named(name)) return child;
    }
    return {};
}

XmlNode XmlNode::next_sibling_named(std::string_view name) const {
    for (XmlNode sibling = next_sibling(); sibling; sibling = sibling.next_sibling()) {
        if (sibling.is_named(name)) return sibling;
    }
    return {};
}

XmlNode XmlNode::next_within(XmlNode scope) const {
    if (!document_) return {};
    if (XmlNode child = first_child()) return child;
    // Climb until a node has a next sibling, stopping at the scope.
    for (XmlNode node = *this; node && node != scope; node = node.parent()) {
        if (XmlNode sibling = node.next_sibling()) return sibling;
    }
    return {};
}

XmlNode XmlNode::first_descendant_named(std::string_view name) const {
    for (XmlNode node = next_within(*this); node; node = node.next_within(*this)) {
        if (node.is_named(name)) return node;
    }
    return {};
}

// ---- XmlDocument ---------------------------------------------------------------------

XmlDocument::XmlDocument() = default;
XmlDocument::XmlDocument(XmlDocument&&) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&&) noexcept = default;
XmlDocument::~XmlDocument() = default;

XmlNode XmlDocument::root_element() const {
    for (XmlNode child = document_node().first_child(); child; child = child.next_sibling()) {
        if (child.is_element()) return child;
    }
    return {};
}

std::string_view XmlDocument::Arena::store(std::string_view text) {
    if (text.empty()) return {};
    if (text.size() > remaining) {
        constexpr std::size_t BLOCK_SIZE = 64 * 1024;
        // Large strings get a block of their own so the current block keeps its space.
        if (text.size() > BLOCK_SIZE / 4) {
            auto& block = blocks.emplace_back(std::make_unique_for_overwrite<char[]>(text.size()));
            std::memcpy(block.get(), text.data(), text.size());
            return {block.get(), text.size()};
        }
        cursor = blocks.emplace_back(std::make_unique_for_overwrite<char[]>(BLOCK_SIZE)).get();
        remaining = BLOCK_SIZE;
    }
    std::memcpy(cursor, text.data(), text.size());
    std::string_view stored(cursor, text.size());
    cursor += text.size();
    remaining -= text.size();
    return stored;
}

// ---- Building ------------------------------------------------------------------------

namespace {

// Separates a namespace URI from a local name in expat's expanded names; the byte 0xFF
// never occurs in UTF-8, so no URI can contain it.
constexpr char NAMESPACE_SEPARATOR = '\xFF';

struct ExpandedName {
    std::string_view namespace_uri;
    std::string_view local_name;
};

ExpandedName split_name(const char* expanded) {
    std::string_view name(expanded);
    const auto separator = name.rfind(NAMESPACE_SEPARATOR);
    if (separator == std::string_view::npos) return {{}, name};
    return {name.substr(0, separator), name.substr(separator + 1)};
}

}  // namespace

// Receives expat's events and appends nodes; the open element is the insertion point.
class XmlTreeBuilder {
public:
    explicit XmlTreeBuilder(XML_Parser parser) : parser_(parser) {
        document_.nodes_.push_back({.kind = XmlNodeKind::Document});
    }

    static void on_start_element(void* user_data, const XML_Char* name, const XML_Char** attributes) {
        guarded(user_data, [&](XmlTreeBuilder& self) { self.start_element(name, attributes); });
    }
    static void on_end_element(void* user_data, const XML_Char*) {
        guarded(user_data, [](XmlTreeBuilder& self) {
            if (self.too_large_) return;
            self.flush_text();
            self.open_ = self.document_.nodes_[self.open_].parent;
        });
    }
    static void on_characters(void* user_data, const XML_Char* text, int length) {
        guarded(user_data, [&](XmlTreeBuilder& self) { self.pending_text_.append(text, static_cast<std::size_t>(length)); });
    }
    static void on_marker(void* user_data, const XML_Char*) {
        guarded(user_data, [](XmlTreeBuilder& self) { self.add_marker(); });
    }
    static void on_instruction(void* user_data, const XML_Char*, const XML_Char*) {
        guarded(user_data, [](XmlTreeBuilder& self) { self.add_marker(); });
    }
    static void on_doctype(void* user_data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        auto* self = static_cast<XmlTreeBuilder*>(user_data);
        self->refused_doctype_ = true;
        XML_StopParser(self->parser_, XML_FALSE);
    }

    bool refused_doctype() const { return refused_doctype_; }
    bool out_of_memory() const { return out_of_memory_; }
    bool too_large() const { return too_large_; }
    XmlDocument take() { return std::move(document_); }

private:
    using NodeRecord = XmlDocument::NodeRecord;

    // No exception may unwind through expat's C frames: a failed allocation stops the
    // parser and is thrown again once XML_Parse has returned.
    template <class Handle>
    static void guarded(void* user_data, Handle&& handle) {
        auto& self = *static_cast<XmlTreeBuilder*>(user_data);
        if (self.out_of_memory_) return;
        try {
            handle(self);
        } catch (const std::bad_alloc&) {
            self.out_of_memory_ = true;
            XML_StopParser(self.parser_, XML_FALSE);
        }
    }

    // Appends a node as the last child of the open element; NONE when the tree is full.
    std::uint32_t append_node(NodeRecord record) {
        auto& nodes = document_.nodes_;
        if (nodes.size() >= XmlDocument::NONE - 1 || document_.attributes_.size() >= XmlDocument::NONE - 1) {
            if (!too_large_) {
                too_large_ = true;
                XML_StopParser(parser_, XML_FALSE);
            }
            return XmlDocument::NONE;
        }
        const auto index = static_cast<std::uint32_t>(nodes.size());
        record.parent = open_;
        auto& parent = nodes[open_];
        if (parent.last_child == XmlDocument::NONE) {
            parent.first_child = index;
        } else {
            nodes[parent.last_child].next_sibling = index;
        }
        parent.last_child = index;
        nodes.push_back(record);
        return index;
    }

    void flush_text() {
        if (pending_text_.empty()) return;
        append_node({.kind = XmlNodeKind::Text, .name_or_text = document_.arena_.store(pending_text_)});
        pending_text_.clear();
    }

    void add_marker() {
        if (too_large_) return;
        flush_text();
        append_node({.kind = XmlNodeKind::Marker});
    }

    void start_element(const XML_Char* name, const XML_Char** attributes) {
        if (too_large_) return;
        flush_text();
        auto& arena = document_.arena_;
        const auto element_name = split_name(name);
        NodeRecord record{.kind = XmlNodeKind::Element,
                          .first_attribute = static_cast<std::uint32_t>(document_.attributes_.size()),
                          .name_or_text = arena.store(element_name.local_name),
                          .namespace_uri = arena.store(element_name.namespace_uri)};
        std::uint32_t count = 0;
        for (const XML_Char** pair = attributes; pair[0] != nullptr; pair += 2) {
            const auto attribute_name = split_name(pair[0]);
            document_.attributes_.push_back({arena.store(attribute_name.namespace_uri),
                                             arena.store(attribute_name.local_name), arena.store(pair[1])});
            ++count;
        }
        record.attribute_count = count;
        const auto index = append_node(record);
        if (index != XmlDocument::NONE) open_ = index;
    }

    XML_Parser parser_;
    XmlDocument document_;
    std::uint32_t open_ = 0;
    std::string pending_text_;
    bool refused_doctype_ = false;
    bool too_large_ = false;
    bool out_of_memory_ = false;
};

namespace {

struct ParserDeleter {
    void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

std::string describe_error(XML_Parser parser) {
    std::string message = XML_ErrorString(XML_GetErrorCode(parser));
    message += " at line ";
    message += std::to_string(XML_GetCurrentLineNumber64(parser));
    message += ", column ";
    message += std::to_string(XML_GetCurrentColumnNumber64(parser) + 1);
    return message;
}

}  // namespace

Result<XmlDocument> parse_xml(std::string_view bytes) {
    // The declared encoding is never used: the bytes are UTF-8, repaired when they are not.
    std::string repaired;
    std::string_view text = bytes;
    if (!is_valid_utf8(bytes)) {
        repaired = decode_utf8_lossy(bytes);
        text = repaired;
    }

    std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(XML_ParserCreateNS("UTF-8", NAMESPACE_SEPARATOR));
    if (!parser) throw std::bad_alloc();
    XmlTreeBuilder builder(parser.get());
    XML_Parser handle = parser.get();
    XML_SetUserData(handle, &builder);
    XML_SetElementHandler(handle, XmlTreeBuilder::on_start_element, XmlTreeBuilder::on_end_element);
    XML_SetCharacterDataHandler(handle, XmlTreeBuilder::on_characters);
    XML_SetCommentHandler(handle, XmlTreeBuilder::on_marker);
    XML_SetProcessingInstructionHandler(handle, XmlTreeBuilder::on_instruction);
    XML_SetStartDoctypeDeclHandler(handle, XmlTreeBuilder::on_doctype);

    // XML_Parse takes an int length; feed very large documents in pieces.
    constexpr std::size_t PIECE = std::size_t{1} << 30;
    do {
        const std::size_t length = std::min(text.size(), PIECE);
        const bool last = length == text.size();
        if (XML_Parse(handle, text.data(), static_cast<int>(length), last ? XML_TRUE : XML_FALSE) !=
            XML_STATUS_OK) {
            // Exhausted memory is the caller's MemoryError, not a fault of the document.
            if (builder.out_of_memory() || XML_GetErrorCode(handle) == XML_ERROR_NO_MEMORY) throw std::bad_alloc();
            if (builder.refused_doctype()) return fail(ErrorKind::Xml, std::string(XML_DTD_MESSAGE));
            if (builder.too_large()) return fail(ErrorKind::Xml, "document has too many nodes");
            return fail(ErrorKind::Xml, describe_error(handle));
        }
        text.remove_prefix(length);
    } while (!text.empty());
    return builder.take();
}

// ---- Text helpers --------------------------------------------------------------------

std::string_view first_text(XmlNode element) {
    for (XmlNode child = element.first_child(); child; child = child.next_sibling()) {
        if (child.is_text()) return child.text();
    }
    return {};
}

std::string_view child_text(XmlNode element) { return element.first_child().text(); }

std::string all_text(XmlNode element) {
    std::string joined;
    for (XmlNode node = element.next_within(element); node; node = node.next_within(element)) {
        if (node.is_text()) joined += node.text();
    }
    const auto trimmed = trim_white_space(joined);
    if (trimmed.size() == joined.size()) return joined;
    return std::string(trimmed);
}

}  // namespace quirelo
