#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pipeline/convert_many.hpp"
#include "reader/lenient_toc.hpp"
#include "reader_test_archive.hpp"

using namespace quirelo;
using quirelo::testing::book_entries;
using quirelo::testing::build_zip;
using quirelo::testing::nav_xhtml;
using quirelo::testing::ncx_xml;
using quirelo::testing::package_xml;

namespace {

namespace fs = std::filesystem;

struct MarkupCase {
    std::string html;
    std::string xml;
};

class LenientMarkup : public ::testing::TestWithParam<MarkupCase> {};

TEST_P(LenientMarkup, BecomesXml) { EXPECT_EQ(xml_from_html_markup(GetParam().html), GetParam().xml); }

INSTANTIATE_TEST_SUITE_P(
    Cases, LenientMarkup,
    ::testing::Values(
        // The prolog's declaration goes, even with an internal subset and quoted ">".
        MarkupCase{"<?xml version='1.0'?><!-- c --><!doctype html [<!ENTITY a 'x>y'>]><p/>",
                   "<?xml version='1.0'?><!-- c --><p/>"},
        MarkupCase{"<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" \"a>b.dtd\">\n<p/>", "\n<p/>"},
        // Only in the prolog: a later one is the parser's to judge.
        MarkupCase{"<p/><!DOCTYPE x>", "<p/><!DOCTYPE x>"},
        // HTML names become numeric references (two for a two-character name), in text
        // and attributes; XML's own names, numeric references and unknown names stay.
        MarkupCase{"<a title='&eacute;'>&nbsp;&amp;&lt;&#233;&NotEqualTilde;&bogus;&nbsp</a>",
                   "<a title='&#233;'>&#160;&amp;&lt;&#233;&#8770;&#824;&bogus;&nbsp</a>"},
        MarkupCase{"& &; &nbsp &" + std::string(60, 'a') + "; &", "& &; &nbsp &" + std::string(60, 'a') + "; &"}));

TEST(LenientToc, NavFirstThenNcxEachUnlessIgnored) {
    const std::string nav = "<!DOCTYPE html>" + nav_xhtml("<li><a href='n'>N&hellip;</a></li>");
    const std::string empty_nav = nav_xhtml("");
    const std::string ncx = "<!DOCTYPE ncx>" +
        ncx_xml("<navPoint><navLabel><text>X&mdash;</text></navLabel><content src='x'/></navPoint>");
    const std::vector<NavigationDocument> both{{"application/x-dtbncx+xml", ncx}, {"application/xhtml+xml", nav}};
    EXPECT_EQ(lenient_toc(both, {}), std::vector<TocEntry>{TocEntry("N\u2026", "n")});
    EXPECT_EQ(lenient_toc(both, {.ignore_nav = true}), std::vector<TocEntry>{TocEntry("X\u2014", "x")});
    const std::vector<NavigationDocument> empty_first{{"application/xhtml+xml", empty_nav}, both[0]};
    EXPECT_EQ(lenient_toc(empty_first, {}), std::vector<TocEntry>{TocEntry("X\u2014", "x")});
    EXPECT_TRUE(lenient_toc(both, {.ignore_ncx = true, .ignore_nav = true}).empty());
}

class PipelineFiles : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("quirelo_pipeline_" + std::to_string(::getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string write(const std::string& name, const std::string& bytes) {
        const fs::path path = folder_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    fs::path folder_;
};

std::string small_book(const std::string& title) {
    const std::string opf = package_xml(
        "<dc:identifier id='uid'>u</dc:identifier><dc:title>" + title + "</dc:title><dc:language>en</dc:language>",
        "<item id='c' href='c.xhtml' media-type='application/xhtml+xml'/>"
        "<item id='n' href='n.xhtml' media-type='application/xhtml+xml' properties='nav'/>"
        "<item id='i' href='i.png' media-type='image/png'/><item id='s' href='s.css' media-type='text/css'/>",
        "<itemref idref='c'/>");
    return build_zip(book_entries(opf, {{.name = "OEBPS/c.xhtml", .data = "<p>" + title + "</p>"},
                                        {.name = "OEBPS/n.xhtml", .data = nav_xhtml("")},
                                        {.name = "OEBPS/i.png", .data = "png"},
                                        {.name = "OEBPS/s.css", .data = "p {}"}}));
}

TEST(ReaderTextItemsOnly, LeavesEveryOtherItemEmpty) {
    auto book = read_epub_bytes(small_book("T"), {.text_items_only = true});
    ASSERT_TRUE(book.has_value()) << book.error().message();
    std::vector<std::pair<std::string, bool>> filled;
    for (const auto& item : book->items) filled.emplace_back(item->id, !load_content(*item).empty());
    const std::vector<std::pair<std::string, bool>> expected{{"c", true}, {"n", true}, {"i", false}, {"s", false}};
    EXPECT_EQ(filled, expected);
}

TEST_F(PipelineFiles, OutcomesInInputOrderWithFailuresAsValues) {
    const std::string one = write("one.epub", small_book("One"));
    const std::string two = write("two.epub", small_book("Two"));
    const std::string missing = (folder_ / "missing.epub").string();
    const std::string not_zip = write("not.epub", "plain text");
    const std::vector<std::string> paths{one, missing, not_zip, two};
    ConversionOptions options;
    options.summary = true;
    const auto outcomes = convert_many(paths, 2, options);
    ASSERT_TRUE(outcomes.has_value()) << outcomes.error().message();
    ASSERT_EQ(outcomes->size(), 4u);
    ASSERT_TRUE((*outcomes)[0].has_value());
    EXPECT_EQ((*outcomes)[0]->markdown, "# One\n\n**Unknown**\n\n---\n\nOne");
    EXPECT_EQ((*outcomes)[0]->summary->title, "One");
    EXPECT_EQ((*outcomes)[3]->summary->title, "Two");
    for (std::size_t failed : {1u, 2u}) {
        ASSERT_FALSE((*outcomes)[failed].has_value());
        EXPECT_EQ((*outcomes)[failed].error().kind, FailureKind::Read);
        EXPECT_EQ((*outcomes)[failed].error().message,
                  read_epub_path(paths[failed], {}).error().message());
    }
}

}  // namespace
