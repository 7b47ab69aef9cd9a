// The real books of ../shared/corpus, when present: converted to valid text, and written
// back without losing items, spine or toc. (The Python tests read them lazily and eagerly,
// and compare every item's bytes after a write.)
#include <gtest/gtest.h>

#include "markdown/markdown.hpp"
#include "markdown/text_extraction.hpp"
#include "reader/read_epub.hpp"
#include "test_support.hpp"
#include "text/utf8.hpp"
#include "writer/write_epub.hpp"

namespace quirelo {
namespace {

std::vector<std::pair<std::string, bool>> spine_of(const Book& book) {
    std::vector<std::pair<std::string, bool>> entries;
    for (const auto& entry : book.spine) entries.emplace_back(entry.idref, entry.linear);
    return entries;
}

TEST(Corpus, ReadsConvertsAndWritesBack) {
    const auto books = testing::corpus_books();
    if (books.empty()) GTEST_SKIP() << "no corpus at " << QUIRELO_CORPUS_DIR;
    for (const auto& path : books) {
        SCOPED_TRACE(path.string());
        auto book = read_epub_path(path.string(), {});
        ASSERT_TRUE(book.has_value()) << book.error().message();
        const std::string markdown = to_markdown(*book);
        EXPECT_TRUE(markdown.starts_with("# ")) << markdown.substr(0, 80);
        EXPECT_TRUE(is_valid_utf8(markdown));
        for (const auto& item : book->items) EXPECT_TRUE(is_valid_utf8(get_text(*item).value_or(""))) << item->href;

        auto archive = write_epub_bytes(*book);  // refused for an empty spine
        ASSERT_TRUE(archive.has_value()) << archive.error().message();
        auto again = read_epub_bytes(*archive, {});
        ASSERT_TRUE(again.has_value()) << again.error().message();
        EXPECT_EQ(again->toc, book->toc);
        EXPECT_EQ(spine_of(*again), spine_of(*book));
        for (const ItemHandle& item : book->items) {
            const ItemHandle* found = item_with_id(*again, item->id);
            ASSERT_NE(found, nullptr) << item->id;
            EXPECT_EQ(std::tie((*found)->href, (*found)->media_type), std::tie(item->href, item->media_type));
        }
    }
}

}  // namespace
}  // namespace quirelo
