#include "gfm/html_parser.hpp"

#include <lexbor/html/html.h>
#include <lexbor/html/tokenizer/state.h>

namespace quirelo {

namespace {

bool is_void_element(lxb_tag_id_t tag) {
    switch (tag) {
        case LXB_TAG_AREA: case LXB_TAG_BASE: case LXB_TAG_BASEFONT: case LXB_TAG_BGSOUND: case LXB_TAG_BR:
        case LXB_TAG_COL: case LXB_TAG_EMBED: case LXB_TAG_FRAME: case LXB_TAG_HR: case LXB_TAG_IMG:
        case LXB_TAG_INPUT: case LXB_TAG_KEYGEN: case LXB_TAG_LINK: case LXB_TAG_META: case LXB_TAG_PARAM:
        case LXB_TAG_SOURCE: case LXB_TAG_TRACK: case LXB_TAG_WBR:
        // Foreign elements: the tree builder itself honours their self-closing flag.
        case LXB_TAG_SVG: case LXB_TAG_MATH:
            return true;
        default:
            return false;
    }
}

// Browsers stop nesting at a few hundred levels as well; no book comes near it.
constexpr std::size_t MAX_OPEN_ELEMENTS = 512;

// The tree builder's own token callback, which ours wraps for one parse.
struct TreeCallback {
    lxb_html_tokenizer_token_f call = nullptr;
    void* context = nullptr;
};

lxb_html_token_t* filter_token(lxb_html_tokenizer_t* tokenizer, lxb_html_token_t* token, void* context) {
    const auto* tree_callback = static_cast<const TreeCallback*>(context);
    const bool start_tag = token->tag_id >= LXB_TAG_A && (token->type & LXB_HTML_TOKEN_TYPE_CLOSE) == 0;
    if (!start_tag || is_void_element(token->tag_id)) {
        return tree_callback->call(tokenizer, token, tree_callback->context);
    }
    lxb_html_tree_t* tree = lxb_html_tokenizer_tree(tokenizer);
    // Tree construction looks through the open elements for most tags, so its cost grows
    // with depth squared: past the cap a start tag is dropped (its text stays, in its parent).
    if (tree != nullptr && tree->open_elements->length >= MAX_OPEN_ELEMENTS) return token;
    if ((token->type & LXB_HTML_TOKEN_TYPE_CLOSE_SELF) == 0) {
        return tree_callback->call(tokenizer, token, tree_callback->context);
    }
    // Inside SVG or MathML the tree builder acknowledges the flag: leave it the token.
    lxb_dom_node_t* current = tree != nullptr ? lxb_html_tree_adjusted_current_node(tree) : nullptr;
    if (current != nullptr && current->ns != LXB_NS_HTML) {
        return tree_callback->call(tokenizer, token, tree_callback->context);
    }
    token->type &= ~LXB_HTML_TOKEN_TYPE_CLOSE_SELF;
    token = tree_callback->call(tokenizer, token, tree_callback->context);
    if (token == nullptr) return nullptr;
    // A raw-text element (title, script, style, textarea) switched the tokenizer away
    // from markup; its end comes now, so markup resumes at once.
    lxb_html_tokenizer_state_set(tokenizer, lxb_html_tokenizer_state_data_before);
    token->type |= LXB_HTML_TOKEN_TYPE_CLOSE;
    return tree_callback->call(tokenizer, token, tree_callback->context);
}

}  // namespace

HtmlParser::HtmlParser() : document_(lxb_html_document_create()) {}

HtmlParser::~HtmlParser() {
    if (document_ != nullptr) lxb_html_document_destroy(document_);
}

std::expected<lxb_dom_node*, HtmlParseError> HtmlParser::parse_body(std::string_view utf8) {
    if (document_ == nullptr) {
        document_ = lxb_html_document_create();
        if (document_ == nullptr) return std::unexpected(HtmlParseError::OutOfMemory);
    }
    lxb_html_document_clean(document_);
    if (lxb_html_document_parse_chunk_begin(document_) != LXB_STATUS_OK) {
        return std::unexpected(HtmlParseError::OutOfMemory);
    }
    auto* parser = static_cast<lxb_html_parser_t*>(document_->dom_document.parser);
    lxb_html_tokenizer_t* tokenizer = parser->tkz;
    TreeCallback tree_callback{tokenizer->callback_token_done, tokenizer->callback_token_ctx};
    lxb_html_tokenizer_callback_token_done_set(tokenizer, filter_token, &tree_callback);
    lxb_status_t status = lxb_html_document_parse_chunk(
        document_, reinterpret_cast<const lxb_char_t*>(utf8.data()), utf8.size());
    // The end of input flushes the last tokens through the same callback.
    const lxb_status_t end_status = lxb_html_document_parse_chunk_end(document_);
    lxb_html_tokenizer_callback_token_done_set(tokenizer, tree_callback.call, tree_callback.context);
    if (status == LXB_STATUS_OK) status = end_status;
    if (status != LXB_STATUS_OK) {
        // The document may be half-built: start afresh next time.
        lxb_html_document_destroy(document_);
        document_ = nullptr;
        return std::unexpected(HtmlParseError::OutOfMemory);
    }
    lxb_html_body_element_t* body = lxb_html_document_body_element(document_);
    return body != nullptr ? lxb_dom_interface_node(body) : nullptr;
}

}  // namespace quirelo
