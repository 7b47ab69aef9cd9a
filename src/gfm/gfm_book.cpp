#include "gfm/gfm_book.hpp"

#include <new>
#include <unordered_map>

#include "gfm/build_tree.hpp"
#include "gfm/render_gfm.hpp"
#include "gfm/yaml_front_matter.hpp"
#include "text/utf8.hpp"

namespace quirelo {

namespace {

constexpr std::string_view DOCUMENT_SEPARATOR = "\n\n***\n\n";

void parse_into(std::string_view bytes, GfmTree& tree, HtmlParser& parser) {
    std::string decoded;
    if (!is_valid_utf8(bytes)) {
        decoded = decode_utf8_lossy(bytes);
        bytes = decoded;
    }
    const auto body = parser.parse_body(bytes);
    if (!body) throw std::bad_alloc();
    build_gfm_tree(*body, tree);
}

}  // namespace

std::vector<GfmDocument> gfm_documents(const std::vector<SpineDocument>& spine) {
    std::vector<GfmDocument> documents(spine.size());
    for (std::size_t i = 0; i < spine.size(); ++i) documents[i].href = spine[i].item->href;
    return documents;
}

void build_gfm_document(const Item& item, GfmDocument& document, HtmlParser& parser) {
    parse_into(load_content(item), document.tree, parser);
}

void build_gfm_document(std::string_view bytes, GfmDocument& document, HtmlParser& parser) {
    parse_into(bytes, document.tree, parser);
}

std::string render_gfm_document(const GfmDocument& document) {
    std::string out;
    out.reserve(document.tree.pool.size() + document.tree.pool.size() / 8 + 64);
    render_gfm(document.tree, out);
    return out;
}

std::string to_gfm(const Book& book) {
    const std::vector<SpineDocument> spine = spine_documents(book);
    std::vector<GfmDocument> documents = gfm_documents(spine);
    HtmlParser parser;
    std::size_t capacity = 256;
    for (std::size_t i = 0; i < spine.size(); ++i) {
        build_gfm_document(*spine[i].item, documents[i], parser);
        capacity += documents[i].tree.pool.size() + documents[i].tree.pool.size() / 8;
    }
    link_gfm_documents(&book, documents);
    std::string out = yaml_front_matter(book);
    out.reserve(out.size() + capacity);
    bool contributed = false;
    std::string chapter;
    for (const GfmDocument& document : documents) {
        chapter.clear();
        render_gfm(document.tree, chapter);
        if (chapter.empty()) continue;
        out.append(contributed ? DOCUMENT_SEPARATOR : "\n");
        out.append(chapter);
        contributed = true;
    }
    if (contributed) out.push_back('\n');
    return out;
}

std::string html_to_gfm(std::string_view html, HtmlParser& parser) {
    GfmDocument document;
    build_gfm_document(html, document, parser);
    link_gfm_documents(nullptr, {&document, 1});
    return render_gfm_document(document);
}

std::string html_to_gfm(std::string_view html) {
    HtmlParser parser;
    return html_to_gfm(html, parser);
}

}  // namespace quirelo
