// The real books of ../shared/corpus, when present: converted to valid text, and written
// back without losing items, spine or toc. (The Python tests read them lazily and eagerly.)
#include <gtest/gtest.h>

#include "markdown/markdown.hpp"
#include "markdown/text_extraction.hpp"
#include "reader/read_epub.hpp"
#include "test_support.hpp"
#include "text/utf8.hpp"
#include "writer/write_epub.hpp"

namespace quirelo {
namespace {

void expect_same_contents(const Book& expected, const Book& actual) {
    EXPECT_EQ(actual.toc, expected.toc);
    auto spine = [](const Book& book) {
        std::vector<std::pair<std::string, bool>> entries;
        for (const auto& entry : book.spine) entries.emplace_back(entry.idref, entry.linear);
        return entries;
    };
    EXPECT_EQ(spine(actual), spine(expected));
    for (const ItemHandle& item : expected.items) {
        const ItemHandle* found = item_with_id(actual, item->id);
        ASSERT_NE(found, nullptr) << item->id;
        EXPECT_EQ((*found)->href, item->href);
        EXPECT_EQ((*found)->media_type, item->media_type);
        // The writer generates what was empty (an NCX, say).
        if (!load_content(*item).empty()) {
            EXPECT_EQ(load_content(**found), load_content(*item)) << item->href;
        }
    }
}

TEST(Corpus, ReadsConvertsAndWritesBack) {
    const auto books = testing::corpus_books();
    if (books.empty()) GTEST_SKIP() << "no corpus at " << QUIRELO_CORPUS_DIR;
    for (const auto& path : books) {
        SCOPED_TRACE(path.string());
        auto book = read_epub_path(path.string(), {});
        ASSERT_TRUE(book.has_value()) << book.error().message();
        EXPECT_FALSE(book->spine.empty());
        const std::string markdown = to_markdown(*book);
        EXPECT_TRUE(markdown.starts_with("# ")) << markdown.substr(0, 80);
        EXPECT_TRUE(is_valid_utf8(markdown));
        for (const auto& item : book->items) EXPECT_TRUE(is_valid_utf8(get_text(*item).value_or(""))) << item->href;

        auto archive = write_epub_bytes(*book);
        ASSERT_TRUE(archive.has_value()) << archive.error().message();
        auto again = read_epub_bytes(*archive, {});
        ASSERT_TRUE(again.has_value()) << again.error().message();
        expect_same_contents(*book, *again);
    }
}

}  // namespace
}  // namespace quirelo
