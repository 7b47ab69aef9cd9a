// The real books of ../shared/corpus, when present: read eagerly, lazily and in a batch
// alike, converted to valid text, and written back without losing items, spine or toc.
#include <gtest/gtest.h>

#include "batch/read_many.hpp"
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
    std::vector<std::string> paths;
    for (const auto& path : books) paths.push_back(path.string());
    auto batch = read_epubs(paths, std::nullopt, {.lazy = true});  // read whole all the same
    ASSERT_TRUE(batch.has_value());
    for (std::size_t index = 0; index < paths.size(); ++index) {
        SCOPED_TRACE(paths[index]);
        auto eager = read_epub_path(paths[index], {});
        ASSERT_TRUE(eager.has_value()) << eager.error().message();
        auto lazy = read_epub_path(paths[index], {.lazy = true});
        ASSERT_TRUE(lazy.has_value() && (*batch)[index].has_value());
        EXPECT_FALSE(eager->spine.empty());
        EXPECT_EQ(eager->metadata, lazy->metadata);
        ASSERT_EQ(eager->items.size(), lazy->items.size());
        expect_same_contents(*eager, *lazy);
        expect_same_contents(*eager, *(*batch)[index]);

        const std::string markdown = to_markdown(*lazy);
        EXPECT_TRUE(markdown.starts_with("# ")) << markdown.substr(0, 80);
        EXPECT_TRUE(is_valid_utf8(markdown));
        for (const auto& item : eager->items) EXPECT_TRUE(is_valid_utf8(get_text(*item).value_or(""))) << item->href;

        auto archive = write_epub_bytes(*eager);
        ASSERT_TRUE(archive.has_value()) << archive.error().message();
        auto again = read_epub_bytes(*archive, {});
        ASSERT_TRUE(again.has_value()) << again.error().message();
        expect_same_contents(*eager, *again);
    }
}

}  // namespace
}  // namespace quirelo
