#pragma once
// The HTML5 parse of one document, as a browser builds its tree, with one repair for
// XHTML served to an HTML parser: a self-closing tag of a non-void HTML element
// (`<title/>`, `<script src="x"/>`, `<a id="p1"/>`, `<div/>`) is an empty element, not
// an open one that swallows or wraps the rest of the document. Elements nest at most 512
// deep: a start tag past that is dropped and its content stays in its parent.
//
// One parser keeps one lexbor document and reuses its memory from parse to parse; it is
// not thread-safe, so give each worker its own.
#include <expected>
#include <string_view>

struct lxb_dom_node;
struct lxb_html_document;

namespace quirelo {

enum class HtmlParseError { OutOfMemory };

class HtmlParser {
public:
    HtmlParser();
    ~HtmlParser();
    HtmlParser(const HtmlParser&) = delete;
    HtmlParser& operator=(const HtmlParser&) = delete;

    // The body element of the parsed document (null when it has none, as a frameset
    // document); valid until the next parse or the parser's end. Bytes must be UTF-8.
    std::expected<lxb_dom_node*, HtmlParseError> parse_body(std::string_view utf8);

private:
    lxb_html_document* document_ = nullptr;
};

}  // namespace quirelo
