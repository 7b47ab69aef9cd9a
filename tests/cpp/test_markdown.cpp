#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "markdown/markdown.hpp"
#include "model/book.hpp"
#include "text/utf8.hpp"

namespace {

using namespace std::string_view_literals;
using quirelo::Book;
using quirelo::html_to_markdown;
using quirelo::ItemType;

struct MarkdownCase {
    const char* name;
    std::string_view input;
    std::string_view expected;
};

constexpr MarkdownCase CASES[] = {
    {"body only", "<html><head><title>T</title></head><body><p>x</p></body></html>", "x"},
    {"any case, attributes", "<HTML><BoDy class=\"c\">x</bOdY>tail", "x"},
    {"no body: head text kept", "<title>T</title><p>x</p>", "T\nx"},
    {"script and style text kept", "<script>var a;</script><style>p{}</style>", "var a;p{}"},
    {"opening body tag never closed", "a<body", "a"},
    {"last closing tag ends the body", "<body>a</body>b</body>c", "ab"},
    {"first opening tag starts the body", "h<body>a<body>b</body>", "ab"},
    {"closing tag inside the opening tag", "<body</body>>x", ""},
    {"heading levels", "<h1>A</h1><h2 class=x>B</h2><H3>C</H3><h4>D</h4><h5>E</h5><h6>F</h6>",
     "# A\n\n## B\n\n### C\n\n#### D\n\n##### E\n\n###### F"},
    {"no h7", "<h7>x</h7>", "x"},
    {"heading breaks the line", "a<h2>b</h2>", "a\n## b"},
    {"upper-case paragraph", "<P>a</P><p>b</p>", "a\n\nb"},
    {"div", "x<div>a</div>b", "x\na\n\nb"},
    {"blockquote", "<blockquote>q</blockquote>after", "> q\n\nafter"},
    {"list", "<ul><li>a</li><li>b</li></ul>", "- a\n- b"},
    {"list after text", "x<ol><li>a</li></ol>", "x\n- a"},
    {"br forms", "a<br>b</br>c<br />d<BR clear=all>e", "a\nb\nc\nd\ne"},
    {"br/, p/ and hr/ are unknown", "a<br/>b<p/>c<hr/>d", "abcd"},
    {"hr and closing hr", "a<hr>b</hr>c", "a\n---\n\nb\n---\n\nc"},
    {"rule at start", "<hr>x", "---\n\nx"},
    {"emphasis", "<em>x</em> <i>y</i>", "*x* *y*"},
    {"strong", "<strong>x</strong><b>y</b>", "**x****y**"},
    {"unknown tags dropped", "<span class=\"s\">a</span><custom-tag>b</custom-tag>", "ab"},
    {"empty tag dropped", "<>a", "a"},
    {"tag starting with white space dropped", "x< p>a", "xa"},
    {"tag cut off by the end", "x<p", "x"},
    {"> inside an attribute ends the tag", "<p title=\"a>b\">c</p>", "b\">c"},
    {"name ends at unicode white space", "z<p\u00a0class=x>a<br\u3000/>b", "z\na\nb"},
    {"kelvin sign folds into blockquote", "x<bloc\u212Aquote>q</BLOC\u212AQUOTE>y", "x\n> q\n\ny"},
    {"dotted capital I never names a tag", "x<\u0130>y</\u0130><l\u0130>z", "xyz"},
    {"other non-ascii letters never fold", "x<\u0127r>y", "xy"},
    {"text trimmed", "<a href=\"u\">  text  </a>", "[text](u)"},
    {"no href", "<a name=\"n\">x</a>", "x]"},
    {"unquoted href", "<a href=u>x</a>", "x]"},
    {"href without closing quote", "<a href=\"u>x</a>", "x]"},
    {"upper-case attribute, target as written", "<A HREF=\"Up.html#Id\">x</A>", "[x](Up.html#Id)"},
    {"first href= wins, even data-href", "<a data-href=\"d\" href=\"u\">x</a>", "[x](d)"},
    {"entities in target kept raw", "<a href=\"p?a=1&amp;b=2\">x</a>", "[x](p?a=1&amp;b=2)"},
    {"empty target", "<a href=\"\">x</a>", "[x]()"},
    {"two links", "<a href=\"1\">a</a> <a href=\"2\">b</a>", "[a](1) [b](2)"},
    {"link text over lines", "<a href=\"u\">\n  two\n words </a>", "[two\n words](u)"},
    {"wide characters before href", "<a title=\"\u0130\u0130\u0130\" href=\"u\">t</a>", "[t](u)"},
    {"target keeps wide characters", "<a href=\"\u0130/\u212A\">t</a>", "[t](\u0130/\u212A)"},
    {"unclosed marker stays", "a<a href=\"u\">x", "a[\0HREF:u\0x"sv},
    {"nested marker copied raw", "<a href=\"a\"><a href=\"b\">x</a></a>", "[[\0HREF:b\0x](a)]"sv},
    {"plain brackets untouched", "[a] [b](c) [", "[a] [b](c) ["},
    {"closing tag far away", "<a href=\"u\">x<p>y</p>z</a>", "[x\ny\n\nz](u)"},
    {"lt gt amp", "&lt;p&gt; &amp;", "<p> &"},
    {"quotes", "&quot;q&quot; &apos;a&apos;", "\"q\" 'a'"},
    {"nbsp is a plain blank", "x&nbsp;y x&#160;y", "x y x y"},
    {"dashes, quotes, ellipsis", "&mdash;&#8212;&ndash;&lsquo;&rsquo;&#8217;&ldquo;&rdquo;&hellip;",
     "\u2014\u2014\u2013\u2018\u2019\u2019\u201C\u201D\u2026"},
    {"names are case-sensitive", "&LT;&Amp;", "&LT;&Amp;"},
    {"one level of decoding", "&amp;lt;", "&lt;"},
    {"name runs to the end of the body", "AT&T rocks", "AT&T rocks;"},
    {"empty name", "&;x", "&;x"},
    {"ten-byte name", "&abcdefghij;", "&abcdefghij;"},
    {"eleven-byte name leaves the semicolon", "&abcdefghijk;", "&abcdefghijk;;"},
    {"limit crossed inside a character", "&abcdefghi\u00e9x;", "&abcdefghi\u00e9;x;"},
    {"numeric cut at the limit", "&#12345678901;", "1;"},
    {"body end before the limit", "<body>&abc</body>", "&abc;"},
    {"decimal", "&#65;", "A"},
    {"hex", "&#x41;&#x6a;&#x6A;", "Ajj"},
    {"leading zeros", "&#x0041;&#08212;", "A\u2014"},
    {"plus sign", "&#+65;&#x+41;", "AA"},
    {"upper-case X", "a&#X41;b", "ab"},
    {"no digits", "a&#;&#x;&#+;b", "ab"},
    {"bad digit", "a&#6A;&#xG;b", "ab"},
    {"surrogates", "a&#xD800;&#xDFFF;&#55296;b", "ab"},
    {"beyond unicode", "a&#x110000;b", "ab"},
    {"largest scalar", "&#x10FFFF;", "\U0010FFFF"},
    // Ten bytes of name cannot overflow; at eleven the ";" stays text.
    {"overflow of 32 bits", "a&#4294967361;&#x100000041;b", "a;;b"},
    {"at most two line feeds", "a\n\n\n\nb", "a\n\nb"},
    {"blank line resets the count", "a\n\n \n\nb", "a\n\n\n\nb"},
    {"blank runs", "a \t\r\f b", "a b"},
    {"carriage return before line feed", "a\r\nb", "a\nb"},
    {"unicode white space", "a\u2003\u3000\u0085b", "a b"},
    {"ends trimmed", " \n a \n ", "a"},
    {"indentation keeps one blank", "<p>\n  A\n</p>\n<p>\n  B\n</p>", "A\n\n B"},
    {"trailing blanks of lines", "a   \nb \n", "a\nb"},
    {"closing paragraphs pile up", "<p>a</p><p></p><p></p><p>b</p>", "a\n\nb"},
    {"only white space", " \n\t<p> </p>", ""},
    {"prose blocks keep single blanks", "a bcdefgh ijk lmnopq <b>r</b>", "a bcdefgh ijk lmnopq **r**"},
    {"double blank at a block edge", "abcdefg  hijklmnop  ", "abcdefg hijklmnop"},
    {"line feed inside a block", "abcdefg\nhijklmnop\n\n\n\nq", "abcdefg\nhijklmnop\n\nq"},
    {"wide characters between blocks", "abcdefgh\u00e9\u3000ijklmnop\u2009", "abcdefgh\u00e9 ijklmnop"},
};

TEST(HtmlToMarkdown, Cases) {
    for (const auto& test : CASES) EXPECT_EQ(html_to_markdown(test.input), test.expected) << test.name;
}

// Inputs that make a careless link pass or body search quadratic; a million tags must
// convert in one pass each (this would take hours if each marker rescanned the rest).
TEST(HtmlToMarkdown, HostileDocumentsStayLinear) {
    // Unclosed links, links closed once at the end, markers without HREF or without their
    // second NUL, almost an href, almost a body, entities.
    const std::pair<std::string_view, std::string_view> units[] = {
        {"<a href=\"x\">", ""}, {"<a href=\"x\">", "</a>"},   {"[&#0;&#0;", ""},    {"[&#0;HREF:", "]"},
        {"<a hre hre=\"href", ""}, {"<bod</bod", ""},          {"&abcdefghij", ""}};
    for (const auto& [unit, end] : units) {
        SCOPED_TRACE(unit);
        std::string document;
        for (int index = 0; index < 1'000'000; ++index) document.append(unit);
        document.append(end);
        EXPECT_TRUE(quirelo::is_valid_utf8(html_to_markdown(document)));
    }
}

constexpr std::string_view HEADER_UNTITLED = "# Untitled\n\n**Unknown**\n\n---\n\n";

void add(Book& book, std::string id, std::string content, ItemType type = quirelo::ITEM_DOCUMENT) {
    std::string href = id + ".xhtml";
    quirelo::add_item(book, std::make_shared<const quirelo::Item>(std::move(id), std::move(href),
                                                                   "application/xhtml+xml", std::move(content), type));
}

void spine(Book& book, std::vector<std::pair<std::string, bool>> entries) { quirelo::set_spine(book, entries); }

TEST(ToMarkdown, HeaderUsesFirstTitleAndCreator) {
    Book book = quirelo::book_new();
    quirelo::append_metadata(book, "DC", "title", "First", {});
    quirelo::append_metadata(book, "DC", "title", "Second", {});
    quirelo::add_author(book, "Ann", std::nullopt, std::nullopt, std::nullopt);
    quirelo::add_author(book, "Bob", std::nullopt, std::nullopt, std::nullopt);
    EXPECT_EQ(quirelo::to_markdown(book), "# First\n\n**Ann**\n\n---\n\n");
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
        {"invalid UTF-8 becomes replacement characters", {{"bad", true}}, "a\ufffd" "b\ufffd"},
    };
    Book book = quirelo::book_new();
    quirelo::append_metadata(book, "OPF", "title", "not dc", {});  // only a DC title heads the book
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
    add(book, "bad", "<p>a\xff" "b\xe2\x82</p>");
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        spine(book, test.spine);
        EXPECT_EQ(quirelo::to_markdown(book), std::string(HEADER_UNTITLED) + std::string(test.expected_body));
    }
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
    const auto off_spine = lazy("off-spine", quirelo::ITEM_DOCUMENT), image = lazy("image", quirelo::ITEM_IMAGE);
    for (const auto& item : {lazy("in-spine", quirelo::ITEM_DOCUMENT), off_spine, image}) quirelo::add_item(book, item);
    spine(book, {{"in-spine", true}});
    lazy_loads = 0;
    EXPECT_EQ(quirelo::to_markdown(book), std::string(HEADER_UNTITLED) + "in-spine");
    EXPECT_EQ(lazy_loads, 2);
    EXPECT_TRUE(off_spine->content.is_set());
    EXPECT_FALSE(image->content.is_set());
}

}  // namespace
