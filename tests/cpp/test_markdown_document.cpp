#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "markdown/markdown.hpp"
#include "text/utf8.hpp"

namespace {

using namespace std::string_view_literals;
using quirelo::html_to_markdown;

struct MarkdownCase {
    const char* name;
    std::string_view input;
    std::string_view expected;
};

void expect_conversions(std::span<const MarkdownCase> cases) {
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(html_to_markdown(test.input), test.expected);
    }
}

constexpr MarkdownCase BODY_CASES[] = {
    {"body only", "<html><head><title>T</title></head><body><p>x</p></body></html>", "x"},
    {"any case, attributes", "<HTML><BoDy class=\"c\">x</bOdY>tail", "x"},
    {"no body: head text kept", "<title>T</title><p>x</p>", "T\nx"},
    {"script and style text kept", "<script>var a;</script><style>p{}</style>", "var a;p{}"},
    {"opening body tag never closed", "a<body", "a"},
    {"last closing tag ends the body", "<body>a</body>b</body>c", "ab"},
    {"first opening tag starts the body", "h<body>a<body>b</body>", "ab"},
    {"inverted range is empty", "</body><body>x", ""},
    {"closing tag inside the opening tag", "<body</body>>x", ""},
    {"closing tag without opening tag", "a</body>b", "a"},
};

constexpr MarkdownCase TAG_CASES[] = {
    {"heading then paragraph", "<h1>Title</h1><p>Text</p>", "# Title\n\nText"},
    {"heading levels", "<h2 class=x>B</h2><H3>C</H3><h4>D</h4><h5>E</h5><h6>F</h6>",
     "## B\n\n### C\n\n#### D\n\n##### E\n\n###### F"},
    {"no h7", "<h7>x</h7>", "x"},
    {"heading breaks the line", "a<h2>b</h2>", "a\n## b"},
    {"upper-case paragraph", "<P>a</P><p>b</p>", "a\n\nb"},
    {"div", "x<div>a</div>b", "x\na\n\nb"},
    {"blockquote", "<blockquote>q</blockquote>after", "> q\n\nafter"},
    {"list", "<ul><li>a</li><li>b</li></ul>", "- a\n- b"},
    {"list after text", "x<ol><li>a</li></ol>", "x\n- a"},
    {"br forms", "a<br>b</br>c<br />d<BR clear=all>e", "a\nb\nc\nd\ne"},
    {"br/ is unknown", "a<br/>b", "ab"},
    {"p/ is unknown", "a<p/>b", "ab"},
    {"hr/ is unknown", "a<hr/>b", "ab"},
    {"hr and closing hr", "a<hr>b</hr>c", "a\n---\n\nb\n---\n\nc"},
    {"rule at start", "<hr>x", "---\n\nx"},
    {"emphasis", "<em>x</em> <i>y</i>", "*x* *y*"},
    {"strong", "<strong>x</strong><b>y</b>", "**x****y**"},
    {"unknown tags dropped", "<span class=\"s\">a</span><custom-tag>b</custom-tag>", "ab"},
    {"empty tag dropped", "<>a", "a"},
    {"tag starting with white space dropped", "x< p>a", "xa"},
    {"closing slash alone", "x</ p>a", "xa"},
    {"tag cut off by the end", "x<p", "x"},
    {"> inside an attribute ends the tag", "<p title=\"a>b\">c</p>", "b\">c"},
    {"name ends at unicode white space", "z<p\u00a0class=x>a<br\u3000/>b", "z\na\nb"},
    {"kelvin sign folds into blockquote", "x<bloc\u212Aquote>q</BLOC\u212AQUOTE>y", "x\n> q\n\ny"},
    {"dotted capital I never names a tag", "x<\u0130>y</\u0130><l\u0130>z", "xyz"},
    {"other non-ascii letters never fold", "x<\u0127r>y", "xy"},
};

constexpr MarkdownCase LINK_CASES[] = {
    {"text trimmed", "<a href=\"u\">  text  </a>", "[text](u)"},
    {"nested emphasis", "<a href=\"u\"><em>x</em></a>", "[*x*](u)"},
    {"no href", "<a name=\"n\">x</a>", "x]"},
    {"single-quoted href", "<a href='u'>x</a>", "x]"},
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
};

constexpr MarkdownCase ENTITY_CASES[] = {
    {"lt gt amp", "&lt;p&gt; &amp;", "<p> &"},
    {"quotes", "&quot;q&quot; &apos;a&apos;", "\"q\" 'a'"},
    {"nbsp is a plain blank", "x&nbsp;y x&#160;y", "x y x y"},
    {"nbsp runs collapse", "a&nbsp;&nbsp;b", "a b"},
    {"dashes", "&mdash;&#8212;&ndash;&#8211;", "\u2014\u2014\u2013\u2013"},
    {"single quotes", "&lsquo;&#8216;&rsquo;&#8217;", "\u2018\u2018\u2019\u2019"},
    {"double quotes", "&ldquo;&#8220;&rdquo;&#8221;", "\u201C\u201C\u201D\u201D"},
    {"ellipsis", "&hellip;&#8230;", "\u2026\u2026"},
    {"names are case-sensitive", "&LT;&Amp;", "&LT;&Amp;"},
    {"unknown name literal", "&copy;", "&copy;"},
    {"one level of decoding", "&amp;lt;", "&lt;"},
    {"name runs to the end of the body", "AT&T rocks", "AT&T rocks;"},
    {"name swallows a tag", "&ab<p>c", "&ab<p>c;"},
    {"ampersand at the end", "a&", "a&;"},
    {"empty name", "&;x", "&;x"},
    {"ten-byte name", "&abcdefghij;", "&abcdefghij;"},
    {"eleven-byte name leaves the semicolon", "&abcdefghijk;", "&abcdefghijk;;"},
    {"limit crossed inside a character", "&abcdefghi\u00e9x;", "&abcdefghi\u00e9;x;"},
    {"numeric cut at the limit", "&#12345678901;", "1;"},
    {"body end before the limit", "<body>&abc</body>", "&abc;"},
};

constexpr MarkdownCase NUMERIC_CASES[] = {
    {"decimal", "&#65;", "A"},
    {"hex", "&#x41;&#x6a;&#x6A;", "Ajj"},
    {"leading zeros", "&#x0041;&#08212;", "A\u2014"},
    {"plus sign", "&#+65;&#x+41;", "AA"},
    {"upper-case X", "a&#X41;b", "ab"},
    {"no digits", "a&#;&#x;&#+;b", "ab"},
    {"bad digit", "a&#6A;&#xG;b", "ab"},
    {"minus sign", "a&#-5;b", "ab"},
    {"surrogates", "a&#xD800;&#xDFFF;&#55296;b", "ab"},
    {"beyond unicode", "a&#x110000;b", "ab"},
    {"largest scalar", "&#x10FFFF;", "\U0010FFFF"},
    // Ten bytes of name cannot overflow; at eleven the ";" stays text.
    {"overflow of 32 bits", "a&#4294967361;&#x100000041;b", "a;;b"},
    {"astral", "&#x1F600;&#128512;", "\U0001F600\U0001F600"},
    {"hex nbsp becomes a plain blank", "x&#xA0;y", "x y"},
    {"space inside a reference", "a&#6 5;b", "ab"},
};

constexpr MarkdownCase WHITE_SPACE_CASES[] = {
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
    {"empty", "", ""},
};

TEST(HtmlToMarkdown, BodyRange) { expect_conversions(BODY_CASES); }
TEST(HtmlToMarkdown, Tags) { expect_conversions(TAG_CASES); }
TEST(HtmlToMarkdown, Links) { expect_conversions(LINK_CASES); }
TEST(HtmlToMarkdown, NamedReferences) { expect_conversions(ENTITY_CASES); }
TEST(HtmlToMarkdown, NumericReferences) { expect_conversions(NUMERIC_CASES); }
TEST(HtmlToMarkdown, WhiteSpaceAndLines) { expect_conversions(WHITE_SPACE_CASES); }

// Inputs that make a careless link pass or body search quadratic; a million tags must
// convert in one pass each (this would take hours if each marker rescanned the rest).
TEST(HtmlToMarkdown, HostileDocumentsStayLinear) {
    const struct {
        const char* name;
        std::string_view unit;
        std::string_view end;
    } units[] = {
        {"unclosed links", "<a href=\"x\">", ""},
        {"links closed once at the end", "<a href=\"x\">", "</a>"},
        {"markers without HREF", "[&#0;&#0;", ""},
        {"markers without second NUL", "[&#0;HREF:", "]"},
        {"almost href", "<a hre hre=\"href", ""},
        {"almost body", "<bod</bod", ""},
        {"entities", "&abcdefghij", ""},
    };
    for (const auto& unit : units) {
        SCOPED_TRACE(unit.name);
        std::string document;
        for (int index = 0; index < 1'000'000; ++index) document.append(unit.unit);
        document.append(unit.end);
        const std::string markdown = html_to_markdown(document);
        EXPECT_TRUE(quirelo::is_valid_utf8(markdown));
    }
}

TEST(HtmlToMarkdown, OutputHasNoDoubledBlankOrTrailingWhiteSpace) {
    const std::string_view pieces[] = {" ", "\n", "<p>", "</p>", "a", "<br>", "&nbsp;", "<a href=\"u\">", "</a>", "\t"};
    std::string input;
    for (unsigned seed = 1; seed < 4000; ++seed) {
        input.clear();
        for (unsigned state = seed; state != 0; state /= 10) input.append(pieces[state % 10]);
        const std::string markdown = html_to_markdown(input);
        ASSERT_TRUE(quirelo::is_valid_utf8(markdown)) << input;
        ASSERT_EQ(markdown.find(" \n"), std::string::npos) << input;
        ASSERT_EQ(markdown.find('\t'), std::string::npos) << input;
        if (!markdown.empty()) {
            ASSERT_NE(markdown.front(), ' ') << input;
            ASSERT_NE(markdown.back(), ' ') << input;
            ASSERT_NE(markdown.back(), '\n') << input;
        }
    }
}

}  // namespace
