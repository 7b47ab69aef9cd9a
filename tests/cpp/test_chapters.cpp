// Chapter rows: one per spine document, in either Markdown flavour.
#include <gtest/gtest.h>

#include "pipeline/book_chapters.hpp"
#include "test_support.hpp"

namespace quirelo {
namespace {

TEST(BookChapters, OneRowPerSpineDocument) {
    Book book = testing::minimal_book();
    testing::add(book, {"a", "text/a.xhtml", "application/xhtml+xml",
                        "<html><body><h1>A</h1><p>one  two&#160;three\u2003four</p></body></html>"});
    testing::add(book, {"b", "text/b.xhtml", "application/xhtml+xml", "<html><body><p>one two three</p></body></html>"});
    testing::add(book, {"pic", "p.png", "image/png", "x", ITEM_IMAGE});
    const std::pair<std::string, bool> spine[] = {{"pic", true}, {"a", true}, {"ch1", true}, {"b", true}};
    set_spine(book, spine);
    set_toc(book, {TocEntry("Part", "text/x.xhtml", {TocEntry("Deep", "text/b.xhtml#s")}),
                   TocEntry("Later", "text/b.xhtml"), TocEntry("A", "text/a.xhtml")});
    const auto rows = book_chapters(book, MarkdownFlavor::Exact);
    ASSERT_EQ(rows.size(), 3u);  // the image in the spine is no document
    EXPECT_EQ(rows[0].position, 1u);
    EXPECT_EQ(rows[0].name, "text/a.xhtml");
    EXPECT_EQ(rows[0].toc_title, "A");
    EXPECT_EQ(rows[0].markdown, "# A\n\none two three four");
    EXPECT_EQ(rows[0].text, "Aone two\u00a0three four");
    EXPECT_EQ(rows[0].word_count, 4u);  // a no-break space is White_Space too
    EXPECT_EQ(rows[1].position, 2u);
    EXPECT_EQ(rows[1].toc_title, "");
    EXPECT_EQ(rows[1].word_count, 0u);
    EXPECT_EQ(rows[1].content_hash, "da39a3ee5e6b4b0d3255bfef95601890afd80709");  // SHA-1 of ""
    EXPECT_EQ(rows[2].toc_title, "Deep");  // depth first: the nested entry comes before "Later"
    EXPECT_EQ(rows[2].content_hash, "a10600b129253b1aaaa860778bef2043ee40c715");
}

}  // namespace
}  // namespace quirelo
