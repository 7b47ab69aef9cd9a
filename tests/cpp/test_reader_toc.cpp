#include <gtest/gtest.h>

#include "model/toc.hpp"
#include "reader/toc_parsing.hpp"
#include "reader_test_archive.hpp"

using namespace quirelo;
using quirelo::testing::nav_xhtml;
using quirelo::testing::ncx_xml;

namespace {

TEST(ReaderNav, EntriesTitlesAndHrefs) {
    auto toc = parse_nav(nav_xhtml(
        "<li><a href='c1.xhtml#s'>\n  Chapter <em>One</em>\n  <span>!</span>\n</a></li>"
        "<li><span>Part</span><ol><li><a href='p%201.xhtml'>Inner</a></li></ol></li>"
        "<li>bare text<b>x</b></li>"
        "<li><a>No href</a></li>"
        "<p>ignored</p>"));
    ASSERT_TRUE(toc.has_value()) << toc.error().message();
    const std::vector<TocEntry> expected{
        {"Chapter One\n  !", "c1.xhtml#s"},
        {"Part", "", {{"Inner", "p%201.xhtml"}}},
        {"", ""},
        {"No href", ""},
    };
    EXPECT_EQ(*toc, expected);
}

TEST(ReaderNav, ChoosesTheTocNav) {
    const std::string head =
        "<html xmlns='http://www.w3.org/1999/xhtml' xmlns:epub='http://www.idpf.org/2007/ops'"
        " xmlns:other='urn:x'><body>";
    // A namespaced epub:type wins over an earlier plain one; "toc landmarks" never matches.
    auto namespaced = parse_nav(head +
                                "<nav type='toc'><ol><li><a href='plain'>P</a></li></ol></nav>"
                                "<nav epub:type='toc landmarks'><ol><li><a href='multi'>M</a></li></ol></nav>"
                                "<nav epub:type='toc'><ol><li><a href='ns'>N</a></li></ol></nav></body></html>");
    ASSERT_TRUE(namespaced.has_value());
    ASSERT_EQ(namespaced->size(), 1u);
    EXPECT_EQ((*namespaced)[0].href, "ns");

    auto plain = parse_nav(head + "<nav other:type='toc'><ol><li><a href='any'>A</a></li></ol></nav></body></html>");
    ASSERT_TRUE(plain.has_value());
    ASSERT_EQ(plain->size(), 1u);
    EXPECT_EQ((*plain)[0].href, "any");

    auto none = parse_nav(head + "<nav epub:type='landmarks'><ol><li/></ol></nav></body></html>");
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->empty());

    auto no_list = parse_nav(head + "<nav epub:type='toc'><ul><li/></ul></nav></body></html>");
    ASSERT_TRUE(no_list.has_value());
    EXPECT_TRUE(no_list->empty());
}

TEST(ReaderNav, FailsOnDoctypeAndHtmlEntities) {
    EXPECT_FALSE(parse_nav("<!DOCTYPE html>" + nav_xhtml("<li><a href='a'>A</a></li>")).has_value());
    EXPECT_FALSE(parse_nav(nav_xhtml("<li><a href='a'>A&nbsp;B</a></li>")).has_value());
}

// levels entries, each but the last holding a list with the next one.
std::string nested_nav(std::size_t levels) {
    std::string items;
    for (std::size_t i = 0; i < levels; ++i) items += i + 1 < levels ? "<li><a href='h'>t</a><ol>" : "<li><a>t</a>";
    items += "</li>";
    for (std::size_t i = 1; i < levels; ++i) items += "</ol></li>";
    return nav_xhtml(items);
}

TEST(ReaderNav, DepthIsCappedAtMaxTocDepth) {
    // The innermost list of 101 nested lists is dropped.
    auto capped = parse_nav(nested_nav(101));
    ASSERT_TRUE(capped.has_value());
    EXPECT_EQ(toc_depth(*capped), MAX_TOC_DEPTH);
    auto exact = parse_nav(nested_nav(100));
    ASSERT_TRUE(exact.has_value());
    EXPECT_EQ(toc_depth(*exact), 100u);
}

TEST(ReaderNcx, EntriesTitlesAndHrefs) {
    auto toc = parse_ncx(ncx_xml(
        "<navPoint id='a' playOrder='2'><navLabel><text>  One  </text></navLabel><content src='one.html#x'/>"
        "  <navPoint><navLabel><text>Inner</text></navLabel><content src='in.html'/></navPoint>"
        "</navPoint>"
        "<navPoint><navLabel><text><!--c-->Hidden</text></navLabel><content/></navPoint>"
        "<navPoint><navPoint><navLabel><text>Borrowed</text></navLabel><content src='b.html'/></navPoint>"
        "</navPoint>"));
    ASSERT_TRUE(toc.has_value()) << toc.error().message();
    const std::vector<TocEntry> expected{
        {"  One  ", "one.html#x", {{"Inner", "in.html"}}},
        {"", ""},
        // Without its own label and content it takes those of its first nested point.
        {"Borrowed", "b.html", {{"Borrowed", "b.html"}}},
    };
    EXPECT_EQ(*toc, expected);
}

TEST(ReaderNcx, NoNavMapAndDoctype) {
    auto empty = parse_ncx("<ncx><docTitle/></ncx>");
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
    EXPECT_FALSE(parse_ncx("<!DOCTYPE ncx PUBLIC \"-//NISO//DTD ncx 2005-1//EN\" \"x\">" + ncx_xml("")).has_value());
}

TEST(ReaderNcx, DepthIsCappedAndDeepDocumentsAreSafe) {
    std::string points;
    for (int i = 0; i < 101; ++i) points += "<navPoint><navLabel><text>t</text></navLabel>";
    for (int i = 0; i < 101; ++i) points += "</navPoint>";
    auto capped = parse_ncx(ncx_xml(points));
    ASSERT_TRUE(capped.has_value());
    EXPECT_EQ(toc_depth(*capped), MAX_TOC_DEPTH);

    // Far deeper than the cap: parsed, searched and dropped without recursion.
    std::string deep;
    for (int i = 0; i < 100'000; ++i) deep += "<navPoint>";
    for (int i = 0; i < 100'000; ++i) deep += "</navPoint>";
    auto result = parse_ncx(ncx_xml(deep));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(toc_depth(*result), MAX_TOC_DEPTH);
}

}  // namespace
