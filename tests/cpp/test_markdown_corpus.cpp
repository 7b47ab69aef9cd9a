#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "markdown/markdown.hpp"
#include "markdown/text_extraction.hpp"
#include "reader/read_epub.hpp"
#include "text/utf8.hpp"

namespace {

std::vector<std::filesystem::path> corpus_books() {
    std::vector<std::filesystem::path> books;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(QUIRELO_CORPUS_DIR, error)) {
        if (entry.path().extension() == ".epub") books.push_back(entry.path());
    }
    std::sort(books.begin(), books.end());
    return books;
}

TEST(CorpusConversion, EveryBookConverts) {
    const auto books = corpus_books();
    if (books.empty()) GTEST_SKIP() << "no corpus at " << QUIRELO_CORPUS_DIR;
    for (const auto& path : books) {
        SCOPED_TRACE(path.filename().string());
        for (const bool lazy : {false, true}) {
            auto book = quirelo::read_epub_path(path.string(), quirelo::ReadOptions{.lazy = lazy});
            ASSERT_TRUE(book.has_value());
            const std::string markdown = quirelo::to_markdown(*book);
            EXPECT_TRUE(markdown.starts_with("# ")) << markdown.substr(0, 80);
            EXPECT_TRUE(quirelo::is_valid_utf8(markdown));
            for (const auto& item : book->items) {
                const auto text = quirelo::get_text(*item);
                const bool has_text =
                    item->item_type == quirelo::ITEM_DOCUMENT || item->item_type == quirelo::ITEM_NAVIGATION;
                EXPECT_EQ(text.has_value(), has_text) << item->href;
                if (text) {
                    EXPECT_TRUE(quirelo::is_valid_utf8(*text)) << item->href;
                }
            }
        }
    }
}

}  // namespace
