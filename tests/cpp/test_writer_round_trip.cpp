#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "reader/read_epub.hpp"
#include "test_writer_books.hpp"
#include "writer/write_epub.hpp"

using namespace quirelo;
using writer_test::add;
using writer_test::attributes;
using writer_test::minimal_book;

namespace {

Book reread(const Book& book) {
    auto archive = write_epub_bytes(book);
    EXPECT_TRUE(archive.has_value()) << archive.error().message();
    if (!archive) return book_new();
    auto again = read_epub_bytes(*archive, {});
    EXPECT_TRUE(again.has_value()) << again.error().message();
    return again ? std::move(*again) : book_new();
}

// Items of `original` with content, found by id in `copy` with the same href, media type and bytes.
void expect_same_items(const Book& original, const Book& copy) {
    for (const ItemHandle& item : original.items) {
        const ItemHandle* found = item_with_id(copy, item->id);
        ASSERT_NE(found, nullptr) << item->id;
        EXPECT_EQ((*found)->href, item->href);
        EXPECT_EQ((*found)->media_type, item->media_type);
        const std::string& bytes = load_content(*item);
        if (!bytes.empty()) {
            EXPECT_EQ(load_content(**found), bytes) << item->id;
        }
    }
}

void expect_same_spine(const Book& original, const Book& copy) {
    ASSERT_EQ(copy.spine.size(), original.spine.size());
    for (std::size_t i = 0; i < original.spine.size(); ++i) {
        EXPECT_EQ(copy.spine[i].idref, original.spine[i].idref);
        EXPECT_EQ(copy.spine[i].linear, original.spine[i].linear);
    }
}

}  // namespace

TEST(WriterRoundTrip, OddTextReadsBack) {
    Book book = minimal_book();
    // Characters XML forbids are left out; an empty attribute key is dropped.
    set_dc_value(book, "title", "A\x01 &amp; <B> \"C\" 'D' \xC3\xA9\xE4\xB8\xAD\xEF\xBF\xBF");
    append_metadata(book, "DC", "creator", "Jane\x1b", attributes({{"", "x"}, {"opf:role", "aut"}}));
    append_metadata(book, "OPF", "m", "v\x02", attributes({{"", "x"}}));
    add(book, {"img", "images/a b.png", "image/png", std::string("\x89PNG\0\x01\xFF", 7), ITEM_IMAGE});
    add(book, {"ch2", "text/ch2.xhtml", "application/xhtml+xml", "<html>\x01</html>"});
    book.spine.push_back({"ch2", std::nullopt, false});
    book.toc = {TocEntry("One & \x01two", "ch1.xhtml", {TocEntry("Deeper <", "text/ch2.xhtml#a")}),
                TocEntry("Group", "", {TocEntry("Three", "ch1.xhtml#3")})};

    const Book copy = reread(book);
    EXPECT_EQ(first_dc_value(copy, "title").value_or("?"), "A &amp; <B> \"C\" 'D' \xC3\xA9\xE4\xB8\xAD");
    const auto creators = metadata_values(copy, "DC", "creator");
    ASSERT_EQ(creators.size(), 1u);
    EXPECT_EQ(creators[0].value, "Jane");
    expect_same_items(book, copy);
    expect_same_spine(book, copy);
    const std::vector<TocEntry> expected_toc = {
        TocEntry("One & two", "ch1.xhtml", {TocEntry("Deeper <", "text/ch2.xhtml#a")}),
        TocEntry("Group", "", {TocEntry("Three", "ch1.xhtml#3")})};
    EXPECT_EQ(copy.toc, expected_toc);
}

TEST(WriterRoundTrip, Epub2BookReadsBackThroughItsNcx) {
    Book book = minimal_book("2.0");
    add(book, {"ncx", "toc.ncx", "application/x-dtbncx+xml", "", ITEM_NAVIGATION});
    book.toc = {TocEntry("One", "ch1.xhtml", {TocEntry("Two", "ch1.xhtml#2")})};
    const Book copy = reread(book);
    EXPECT_EQ(copy.version, "2.0");
    EXPECT_EQ(copy.toc, book.toc);
    EXPECT_EQ(item_with_id(copy, "nav"), nullptr);
}

TEST(WriterRoundTrip, CorpusBooksKeepItemsSpineAndToc) {
    std::vector<std::filesystem::path> paths;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(QUIRELO_CORPUS_DIR, error)) {
        if (entry.path().extension() == ".epub") paths.push_back(entry.path());
    }
    if (paths.empty()) GTEST_SKIP() << "no corpus books under " << QUIRELO_CORPUS_DIR;
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
        SCOPED_TRACE(path.filename().string());
        auto book = read_epub_path(path.string(), {});
        if (!book) continue;  // the reader's own tests cover books it refuses
        const Book copy = reread(*book);
        expect_same_items(*book, copy);
        expect_same_spine(*book, copy);
        EXPECT_EQ(copy.toc, book->toc);
    }
}
