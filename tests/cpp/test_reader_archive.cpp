#include <gtest/gtest.h>

#include "model/book.hpp"
#include "reader/read_epub.hpp"
#include "text/resolve_path.hpp"
#include "test_support.hpp"

using namespace quirelo;
using namespace quirelo::testing;

namespace {

std::string content_of(const Book& book, std::string_view id) {
    const ItemHandle* item = item_with_id(book, id);
    if (!item) return "<no item>";
    return load_content(**item);
}

std::string sample_opf() {
    return package_xml(
        "<dc:title>Sample</dc:title><dc:creator id='a1'>Ann</dc:creator>"
        "<meta refines='#a1' property='role'>aut</meta>",
        "<item id='nav' href='nav.xhtml' media-type='application/xhtml+xml' properties='nav'/>"
        "<item id='c1' href='text/c1.xhtml' media-type='application/xhtml+xml'/>"
        "<item id='img' href='../OEBPS/images/./pic.png' media-type='image/png' properties='cover-image'/>"
        "<item id='css' href='/style.css' media-type='text/css' fallback='c1' media-overlay='s1'/>"
        "<item id='gone' href='missing.xhtml' media-type='application/xhtml+xml'/>"
        "<item id='ncx' href='toc.ncx' media-type='application/x-dtbncx+xml'/>",
        "<itemref idref='c1'/><itemref idref='gone' linear='no'/>", "toc='ncx'");
}

std::vector<ZipEntryLayout> sample_files() {
    return {
        {.name = "OEBPS/nav.xhtml", .data = nav_xhtml("<li><a href='text/c1.xhtml'>One</a></li>")},
        {.name = "OEBPS/text/c1.xhtml", .data = "<html><body><p>Hello</p></body></html>"},
        {.name = "OEBPS/images/pic.png", .data = std::string(5000, 'P'), .deflate = false},
        {.name = "OEBPS/style.css", .data = "p { margin: 0 }"},
        {.name = "OEBPS/toc.ncx",
         .data = ncx_xml("<navPoint><navLabel><text>From NCX</text></navLabel><content src='x'/></navPoint>")},
    };
}

std::string sample_book() { return build_zip(book_entries(sample_opf(), sample_files())); }

class ReaderModes : public ::testing::TestWithParam<bool> {};

TEST_P(ReaderModes, ReadsTheWholeBook) {
    std::string bytes = sample_book();
    auto book = read_epub_bytes(bytes, {.lazy = GetParam()});
    std::ranges::fill(bytes, '\0');  // a lazy book loads from its own copy of the archive
    ASSERT_TRUE(book.has_value()) << book.error().message();
    EXPECT_EQ(book->version, "3.0");
    std::vector<std::pair<std::string, bool>> ids;  // in manifest order, loaded or not
    for (const auto& item : book->items) ids.emplace_back(item->id, item->content.is_set());
    const bool eager = !GetParam();
    EXPECT_EQ(ids, (std::vector<std::pair<std::string, bool>>{
                       {"nav", eager}, {"c1", eager}, {"img", eager}, {"css", eager}, {"gone", eager}, {"ncx", eager}}));
    std::vector<std::string> contents;
    for (const char* id : {"c1", "img", "css", "gone"}) contents.push_back(content_of(*book, id));
    EXPECT_EQ(contents, (std::vector<std::string>{"<html><body><p>Hello</p></body></html>", std::string(5000, 'P'),
                                                  "p { margin: 0 }", ""}));

    const Item& img = **item_with_id(*book, "img");
    EXPECT_EQ(std::tuple(img.href, img.item_type), std::tuple("../OEBPS/images/./pic.png", ITEM_COVER));
    const Item& css = **item_with_id(*book, "css");
    EXPECT_EQ(std::tuple(css.fallback, css.media_overlay, css.properties), std::tuple("c1", "s1", std::nullopt));
    EXPECT_EQ((*item_with_id(*book, "nav"))->item_type, ITEM_NAVIGATION);
    EXPECT_EQ(item_with_href(*book, "text/c1.xhtml"), item_with_id(*book, "c1"));
    EXPECT_EQ(GetParam(), img.lazy_source.has_value());
    EXPECT_EQ(&load_content(img), &load_content(img));  // loaded once, then kept

    ASSERT_EQ(book->spine.size(), 2u);
    EXPECT_FALSE(book->spine[1].linear);
    EXPECT_EQ(book->toc, (std::vector<TocEntry>{{"One", "text/c1.xhtml"}}));
    const auto& creator = book->metadata.find("DC")->find("creator")->front();
    EXPECT_EQ(*creator.attributes.find("opf:role"), "aut");
    const auto* opf = book->metadata.find("OPF");
    EXPECT_TRUE(opf == nullptr || opf->empty()) << "the only meta was folded away";
}

struct FailureCase {
    const char* name;
    std::string archive;
    std::string message;  // exact, or a prefix when it ends in ": "
};

std::string with_container(std::string container) {
    return build_zip({{.name = "META-INF/container.xml", .data = std::move(container)}});
}

std::vector<FailureCase> failure_cases() {
    return {
        // Lines and columns count from 1 (column 8: the name expat finds mismatched).
        {"container_mismatched", with_container("<c>\n  <a></b></c>"),
         "XML parsing error: mismatched tag at line 2, column 8"},
        // Deflated and empty (two bytes of compressed data): read as empty, so the parser speaks.
        {"container_empty_deflated", with_container(""), "XML parsing error: "},
        {"container_doctype", with_container("<!DOCTYPE c><c/>"), "XML parsing error: XML with DTD detected"},
        {"no_rootfile", with_container("<container><rootfile full-path='a.opf'/></container>"),
         "No rootfile found in container.xml"},
        {"opf_doctype", build_zip(book_entries("<?xml version='1.0'?><!DOCTYPE p><package/>")),
         "Invalid OPF: XML with DTD detected"},
    };
}

class ReaderFailures : public ::testing::TestWithParam<std::tuple<FailureCase, bool>> {};

TEST_P(ReaderFailures, EndTheReadWithTheirMessage) {
    const auto& [failure, lazy] = GetParam();
    auto book = read_epub_bytes(failure.archive, {.lazy = lazy});
    ASSERT_FALSE(book.has_value());
    const std::string message = book.error().message();
    if (failure.message.ends_with(": ")) {
        EXPECT_TRUE(message.starts_with(failure.message)) << message;
        EXPECT_GT(message.size(), failure.message.size()) << "the library's own text follows";
    } else {
        EXPECT_EQ(message, failure.message);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ReaderFailures,
                         ::testing::Combine(::testing::ValuesIn(failure_cases()), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_lazy" : "_eager");
                         });

TEST(ReaderPath, IoErrorsNameTheirCause) {
    const TempDir folder;
    for (const bool lazy : {false, true}) {
        auto nul = read_epub_path(std::string("book\0.epub", 10), {.lazy = lazy});
        auto directory = read_epub_path(folder.path().string(), {.lazy = lazy});
        ASSERT_FALSE(nul || directory);
        EXPECT_EQ(nul.error().message(), "IO error: file name contained an unexpected NUL byte");
        EXPECT_EQ(directory.error().message(), "IO error: Is a directory (os error 21)");
    }
}

TEST(ReaderMimetype, WarnsOnlyAboutWrongText) {
    const std::string WARNING = "Warning: mimetype file contains '";
    const std::pair<std::optional<ZipEntryLayout>, std::string> cases[] = {
        {ZipEntryLayout{.name = "mimetype", .data = "  application/epub+zip \xE2\x80\x83\n"}, ""},
        {std::nullopt, ""},
        {ZipEntryLayout{.name = "mimetype", .data = "application/zip", .crc = 99}, ""},
        {ZipEntryLayout{.name = "mimetype", .data = "application/\xFF"}, ""},
        {ZipEntryLayout{.name = "mimetype", .data = " application/zip\n"},
         WARNING + "application/zip', expected 'application/epub+zip'\n"},
        {ZipEntryLayout{.name = "mimetype", .data = "Application/EPUB+zip", .deflate = false},
         WARNING + "Application/EPUB+zip', expected 'application/epub+zip'\n"}};
    for (const auto& [entry, warning] : cases) {
        auto entries = book_entries(package_xml("", "", ""));
        entries.erase(entries.begin());
        if (entry) entries.insert(entries.begin(), *entry);
        const std::string archive = build_zip(entries);
        ::testing::internal::CaptureStderr();
        EXPECT_TRUE(read_epub_bytes(archive, {}).has_value());
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), warning) << (entry ? entry->data : "absent");
    }
}

TEST(ReaderArchive, PackageAtTheRootResolvesParentHrefs) {
    auto entries = book_entries(
        package_xml("", "<item id='x' href='../sub/../x.html' media-type='text/html'/>", ""),
        {{.name = "x.html", .data = "root"}});
    entries[1].data = container_xml("content.opf");
    entries[2].name = "content.opf";
    auto book = read_epub_bytes(build_zip(entries), {});
    ASSERT_TRUE(book.has_value()) << book.error().message();
    EXPECT_EQ(content_of(*book, "x"), "root");
}

TEST(ReaderResolvePath, Joins) {
    EXPECT_EQ(resolve_path("OEBPS/", "/images/a.png"), "OEBPS/images/a.png");
    EXPECT_EQ(resolve_path("OEBPS/", "../../x.css"), "x.css");
    EXPECT_EQ(resolve_path("a//b/", "./c/../d//e"), "a/b/d/e");
    EXPECT_EQ(resolve_path("OEBPS/", "a%20b.html#frag?q"), "OEBPS/a%20b.html#frag?q");
    EXPECT_EQ(resolve_path("x/", ".."), "");
}

// A book whose navigation document and NCX are given; the spine names the NCX when asked.
std::string toc_book(std::string nav, std::string ncx, bool spine_names_ncx = true) {
    return build_zip(book_entries(
        package_xml("",
                    "<item id='n' href='nav.xhtml' media-type='application/xhtml+xml' properties='scripted nav'/>"
                    "<item id='t' href='toc.ncx' media-type='application/x-dtbncx+xml'/>",
                    "", spine_names_ncx ? "toc='t'" : ""),
        {{.name = "OEBPS/nav.xhtml", .data = std::move(nav)}, {.name = "OEBPS/toc.ncx", .data = std::move(ncx)}}));
}

const std::string NAV = nav_xhtml("<li><a href='n.xhtml'>Nav</a></li>");
const std::string NCX = ncx_xml("<navPoint><navLabel><text>Ncx</text></navLabel><content src='c.xhtml'/></navPoint>");
const std::vector<TocEntry> FROM_NAV{{"Nav", "n.xhtml"}};
const std::vector<TocEntry> FROM_NCX{{"Ncx", "c.xhtml"}};

TEST(ReaderTocSource, NavFirstThenTheSpinesNcx) {
    const struct {
        std::string archive;
        ReadOptions options;
        std::vector<TocEntry> expected;
    } cases[] = {{toc_book(NAV, NCX), {}, FROM_NAV},
                 {toc_book("<!DOCTYPE html>" + NAV, NCX), {}, FROM_NCX},
                 {toc_book("<!DOCTYPE html>" + NAV, "<!DOCTYPE ncx>" + NCX), {}, {}},
                 {toc_book(nav_xhtml(""), NCX), {}, FROM_NCX},
                 {toc_book(nav_xhtml(""), NCX, false), {}, {}},  // no toc attribute on the spine
                 {toc_book(NAV, NCX), {.ignore_nav = true}, FROM_NCX},
                 {toc_book("<x", NCX), {.ignore_ncx = true}, {}}};
    for (std::size_t index = 0; index < std::size(cases); ++index) {
        auto book = read_epub_bytes(cases[index].archive, cases[index].options);
        ASSERT_TRUE(book.has_value()) << book.error().message();
        EXPECT_EQ(book->toc, cases[index].expected) << "case " << index;
        EXPECT_EQ(book->items.size(), 2u);  // both stay ordinary items
    }
}

TEST(ReaderTextItemsOnly, LeavesEveryOtherItemEmpty) {
    auto book = read_epub_bytes(small_book("T"), {.text_items_only = true});
    ASSERT_TRUE(book.has_value()) << book.error().message();
    std::vector<std::pair<std::string, bool>> filled;
    for (const auto& item : book->items) filled.emplace_back(item->id, !load_content(*item).empty());
    const std::vector<std::pair<std::string, bool>> expected{{"c", true}, {"n", true}, {"i", false}, {"s", false}};
    EXPECT_EQ(filled, expected);
}

INSTANTIATE_TEST_SUITE_P(Modes, ReaderModes, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "lazy" : "eager"; });

}  // namespace
