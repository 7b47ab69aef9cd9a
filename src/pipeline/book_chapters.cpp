#include "pipeline/book_chapters.hpp"

#include <unordered_map>
#include <utility>
#include <vector>

#include "gfm/gfm_book.hpp"
#include "markdown/markdown.hpp"
#include "model/sha1.hpp"
#include "pipeline/spine_text.hpp"
#include "text/ascii.hpp"
#include "text/unicode_properties.hpp"
#include "text/utf8.hpp"

namespace quirelo {

namespace {

// href (without fragment) -> title of the first entry, depth first, that points there.
std::unordered_map<std::string_view, std::string_view> toc_titles(const std::vector<TocEntry>& toc) {
    std::unordered_map<std::string_view, std::string_view> titles;
    std::vector<std::pair<const std::vector<TocEntry>*, std::size_t>> stack{{&toc, 0}};
    while (!stack.empty()) {
        auto& [entries, index] = stack.back();
        if (index == entries->size()) {
            stack.pop_back();
            continue;
        }
        const TocEntry& entry = (*entries)[index++];
        const std::string_view href = std::string_view(entry.href).substr(0, entry.href.find('#'));
        titles.try_emplace(href, entry.title);
        if (!entry.children.empty()) stack.push_back({&entry.children, 0});
    }
    return titles;
}

std::size_t count_words(std::string_view text) {
    std::size_t words = 0;
    bool in_word = false;
    std::size_t position = 0;
    while (position < text.size()) {
        const char32_t c = next_code_point(text, position);
        const bool space = is_white_space(c);
        if (!space && !in_word) ++words;
        in_word = !space;
    }
    return words;
}

std::string hex_sha1(std::string_view text) {
    std::string hex;
    hex.reserve(40);
    for (const std::uint8_t byte : sha1(text)) {
        hex.push_back(ascii_lower(hex_digit(byte >> 4)));
        hex.push_back(ascii_lower(hex_digit(byte)));
    }
    return hex;
}

}  // namespace

std::vector<ChapterRow> book_chapters(const Book& book, MarkdownFlavor flavor) {
    const std::vector<SpineDocument> spine = spine_documents(book);
    std::vector<GfmDocument> documents;
    if (flavor == MarkdownFlavor::Gfm) {
        documents = gfm_documents(spine);
        HtmlParser parser;
        for (std::size_t i = 0; i < spine.size(); ++i) build_gfm_document(*spine[i].item, documents[i], parser);
        link_gfm_documents(&book, documents);
    }
    const auto titles = toc_titles(book.toc);
    std::vector<ChapterRow> rows(spine.size());
    for (std::size_t i = 0; i < spine.size(); ++i) {
        const Item& item = *spine[i].item;
        ChapterRow& row = rows[i];
        row.position = spine[i].spine_position;
        row.name = item.href;
        if (const auto title = titles.find(item.href); title != titles.end()) row.toc_title = title->second;
        row.markdown = flavor == MarkdownFlavor::Gfm ? render_gfm_document(documents[i]) : document_markdown(item);
        row.text = document_text(item);
        row.word_count = count_words(row.text);
        row.content_hash = hex_sha1(row.text);
    }
    return rows;
}

}  // namespace quirelo
