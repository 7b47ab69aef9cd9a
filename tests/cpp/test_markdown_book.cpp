#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "markdown/markdown.hpp"
#include "model/book.hpp"
#include "text/utf8.hpp"

namespace {

using quirelo::Book;
using quirelo::ItemType;

constexpr std::string_view HEADER_UNTITLED = "# Untitled\n\n**Unknown**\n\n---\n\n";

void add(Book& book, std::string id, std::string content, ItemType type = quirelo::ITEM_DOCUMENT) {
    std::string href = id + ".xhtml";
    quirelo::add_item(book, std::make_shared<const quirelo::Item>(std::move(id), std::move(href),
                                                                   "application/xhtml+xml", std::move(content), type));
}

void spine(Book& book, std::vector<std::pair<std::string, bool>> entries) { quirelo::set_spine(book, entries); }

TEST(ToMarkdown, EmptyBookIsTheHeaderAlone) { EXPECT_EQ(quirelo::to_markdown(quirelo::book_new()), HEADER_UNTITLED); }

TEST(ToMarkdown, HeaderUsesFirstTitleAndCreator) {
    Book book = quirelo::book_new();
    quirelo::append_metadata(book, "DC", "title", "First", {});
    quirelo::append_metadata(book, "DC", "title", "Second", {});
    quirelo::add_author(book, "Ann", std::nullopt, std::nullopt, std::nullopt);
    quirelo::add_author(book, "Bob", std::nullopt, std::nullopt, std::nullopt);
    EXPECT_EQ(quirelo::to_markdown(book), "# First\n\n**Ann**\n\n---\n\n");

    Book empty_values = quirelo::book_new();
    quirelo::set_dc_value(empty_values, "title", "");
    quirelo::append_metadata(empty_values, "DC", "creator", "", {});
    EXPECT_EQ(quirelo::to_markdown(empty_values), "# \n\n****\n\n---\n\n");

    Book other_namespace = quirelo::book_new();
    quirelo::append_metadata(other_namespace, "OPF", "title", "not dc", {});
    EXPECT_EQ(quirelo::to_markdown(other_namespace), HEADER_UNTITLED);
}

TEST(ToMarkdown, SpineAssembly) {
    const struct {
        const char* name;
        std::vector<std::pair<std::string, bool>> spine;
        std::string_view expected_body;
    } cases[] = {
        {"chapters in spine order", {{"two", true}, {"one", true}}, "# Two\n\n---\n\nOne"},
        {"non-linear entries converted", {{"one", false}}, "One"},
        {"empty chapters add no separator", {{"empty", true}, {"one", true}, {"empty", true}, {"two", true}},
         "One\n\n---\n\n# Two"},
        {"only empty chapters", {{"empty", true}, {"empty", true}}, ""},
        {"navigation, image, missing and other items skipped",
         {{"nav", true}, {"image", true}, {"missing", true}, {"style", true}, {"one", true}}, "One"},
        {"repeated entry converted each time", {{"one", true}, {"one", true}}, "One\n\n---\n\nOne"},
        {"last document with an id wins", {{"dup", true}}, "Later"},
        {"a later non-document does not hide a document", {{"shadowed", true}}, "Document"},
    };
    Book book = quirelo::book_new();
    add(book, "one", "<html><body><p>One</p></body></html>");
    add(book, "two", "<h1>Two</h1>");
    add(book, "empty", "<body> <p> </p> </body>");
    add(book, "nav", "<nav><p>Contents</p></nav>", quirelo::ITEM_NAVIGATION);
    add(book, "image", "<p>pixels</p>", quirelo::ITEM_IMAGE);
    add(book, "style", "<p>p{}</p>", quirelo::ITEM_STYLE);
    add(book, "dup", "<p>Earlier</p>");
    add(book, "dup", "<p>Later</p>");
    add(book, "shadowed", "<p>Document</p>");
    add(book, "shadowed", "<p>Cover</p>", quirelo::ITEM_COVER);
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        spine(book, test.spine);
        EXPECT_EQ(quirelo::to_markdown(book), std::string(HEADER_UNTITLED) + std::string(test.expected_body));
    }
}

TEST(ToMarkdown, InvalidUtf8BecomesReplacementCharacters) {
    Book book = quirelo::book_new();
    add(book, "c", "<p>a\xff" "b\xe2\x82</p>");
    spine(book, {{"c", true}});
    EXPECT_EQ(quirelo::to_markdown(book), std::string(HEADER_UNTITLED) + "a\ufffd" "b\ufffd");
}

std::atomic<int> lazy_loads{0};
std::string load_chapter(const quirelo::LazySource& source) {
    ++lazy_loads;
    return "<p>" + source.entry_name + "</p>";
}

// Every document item is loaded to size the output, in the spine or not; other items stay
// unloaded.
TEST(ToMarkdown, LoadsLazyDocumentsThroughTheirLoader) {
    Book book = quirelo::book_new();
    auto lazy = [](std::string id, ItemType type) {
        quirelo::LazySource source{id, nullptr, &load_chapter};
        return std::make_shared<const quirelo::Item>(id, id, "application/xhtml+xml", std::move(source), type);
    };
    auto in_spine = lazy("in-spine", quirelo::ITEM_DOCUMENT);
    auto off_spine = lazy("off-spine", quirelo::ITEM_DOCUMENT);
    auto image = lazy("image", quirelo::ITEM_IMAGE);
    quirelo::add_item(book, in_spine);
    quirelo::add_item(book, off_spine);
    quirelo::add_item(book, image);
    spine(book, {{"in-spine", true}});
    lazy_loads = 0;
    EXPECT_EQ(quirelo::to_markdown(book), std::string(HEADER_UNTITLED) + "in-spine");
    EXPECT_EQ(lazy_loads, 2);
    EXPECT_TRUE(off_spine->content.is_set());
    EXPECT_FALSE(image->content.is_set());
}

}  // namespace
