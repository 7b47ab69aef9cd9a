// The structured Markdown flavour: golden cases per construct, the parse-back property
// over generated documents, and every corpus document read back by cmark-gfm.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "gfm/gfm_book.hpp"
#include "gfm_parse_back.hpp"
#include "reader/read_epub.hpp"
#include "test_support.hpp"

namespace quirelo {
namespace {

// The Markdown of one document, which cmark-gfm must read back as the nodes it came from.
std::string convert(std::string_view html) {
    static HtmlParser parser;
    GfmDocument document;
    build_gfm_document(html, document, parser);
    link_gfm_documents(nullptr, {&document, 1});
    std::string markdown = render_gfm_document(document);
    EXPECT_EQ(testing::parsed_shape(markdown), testing::book_shape({&document.tree})) << html << "\n---\n" << markdown;
    return markdown;
}

constexpr std::pair<const char*, const char*> GOLDENS[] = {  // HTML, Markdown
    // Blocks, quotes, code, and what is dropped (also written as self-closing tags).
    {"<h3>a <em>b</em></h3>", "### a *b*"},
    {"<p>one</p><hr/><p>two</p>", "one\n\n***\n\ntwo"},
    {"<div>loose <span>text</span><p>para</p>tail</div>", "loose text\n\npara\n\ntail"},
    {"<p>  spaced \n\t words  </p>", "spaced words"},
    {"<p>a<br/>b<br></p>", "a\\\nb"},
    {"<h2>Chapter<br/>One</h2>", "## Chapter One"},
    {"<noscript><p>no script</p></noscript><form><select><option>opt</option></select></form>", "no script\n\nopt"},
    {"<blockquote><p>a</p><blockquote><p>b</p></blockquote></blockquote>", "> a\n>\n> > b"},
    {"<blockquote>a<br/>b</blockquote>", "> a\\\n> b"},
    {"<blockquote><p>a</p></blockquote><blockquote><p>b</p></blockquote>", "> a\n\n> b"},
    {"<ul><li><blockquote><p>q</p></blockquote></li></ul>", "- > q"},
    {"<blockquote><pre>x\n\ny</pre></blockquote>", "> ```\n> x\n>\n> y\n> ```"},
    {"<pre>a\n  b\n</pre>", "```\na\n  b\n```"},
    {"<pre>x ``` y</pre>", "````\nx ``` y\n````"},
    {"<pre><code>&lt;b&gt;<b>bold</b></code></pre>", "```\n<b>bold\n```"},
    {"<ul><li><pre>c</pre></li></ul>", "- ```\n  c\n  ```"},
    {"<pre>   </pre><p>after</p>", "after"},
    {"<head><title>T</title><style>p{}</style></head><body><p>a<script>x</script>b</p></body>", "ab"},
    {"<p>a<span epub:type=\"pagebreak\" id=\"p5\" title=\"5\">5</span>b</p>", "ab"},
    {"<p>a<span role=\"doc-pagebreak\">6</span> b</p>", "a b"},
    {"<p><ruby>漢<rp>(</rp><rt>kan</rt><rp>)</rp>字<rt>ji</rt></ruby></p>", "漢字"},
    {"<p>x <math alttext=\"a^2\"><mi>a</mi><mn>2</mn></math> y</p>", "x a^2 y"},
    {"<p>x <math><mi>b</mi></math></p>", "x b"},
    {"<p><svg><title>Fig</title><text>no</text></svg></p>", "Fig"},
    {"<html><head><title/><script src=\"x.js\"/><style/></head><body><p>kept</p></body></html>", "kept"},
    {"<body><p>a<a id=\"p1\"/>b<span/>c</p><div/><p>d</p><textarea/><p>e</p></body>", "abc\n\nd\n\ne"},
    {"<body><p><svg><rect/><title>t</title></svg> z</p></body>", "t z"},
    // Inlines and escaping.
    {"<p><em>a</em> <strong>b</strong> <code>c</code></p>", "*a* **b** `c`"},
    {"<p><i>a</i><i>b</i></p>", "*ab*"},
    {"<p>x<em> y </em>z</p>", "x *y* z"},
    {"<p><b><i>both</i></b></p>", "***both***"},
    {"<p>a<em>“quoted”</em>b</p>", "a<em>“quoted”</em>b"},
    {"<p>x:<em>y</em> z@<em>w</em>.</p>", "x:*y* z@*w*."},  // ASCII punctuation from ':' to '@' opens
    {"<p><code>a`b</code> <code>`x</code></p>", "``a`b`` `` `x ``"},
    {"<p><a href=\"http://x.org/a b\">link</a></p>", "[link](http://x.org/a%20b)"},
    {"<p><img src=\"i.png\" alt=\"a [b]\"/></p>", "![a \\[b\\]](i.png)"},
    {"<p>See<a href=\"#n\"></a> here</p>", "See here"},
    {"<p># not a heading</p>", "\\# not a heading"},
    {"<p>- not a list</p><p>+ nor</p><p>1. nor this</p><p>2021) or</p>",
     "\\- not a list\n\n\\+ nor\n\n1\\. nor this\n\n2021\\) or"},
    {"<p>&gt; no quote</p>", "\\> no quote"},
    {"<p>*a* _b_ snake_case [c] `d` &lt;e&gt; a|b ~f~ \\</p>",
     "\\*a\\* \\_b\\_ snake_case \\[c\\] \\`d\\` \\<e> a\\|b \\~f\\~ \\\\"},
    {"<p>&amp;amp; AT&amp;T</p>", "\\&amp; AT&T"},
    {"<p>line<br/>===</p>", "line\\\n\\==="},
    {"<h2>C# #</h2>", "## C\\# \\#"},
    {"<p>wow!<a href=\"u\">x</a></p>", "wow\\![x](u)"},
    // Lists and tables; a table that cannot be one becomes a list.
    {"<ol start=\"7\"><li>a</li><li>b</li></ol>", "7. a\n8. b"},
    {"<ul><li>a<ul><li>b<ol><li>c</li></ol></li></ul></li></ul>", "- a\n\n  - b\n\n    1. c"},
    {"<ul><li><p>one</p><p>two</p></li><li>three</li></ul>", "- one\n\n  two\n\n- three"},
    {"<ul><li>a</li></ul><ul><li>b</li></ul>", "- a\n\n+ b"},
    {"<ol><li>a</li></ol><ol><li>b</li></ol>", "1. a\n\n1) b"},
    {"<ul><li></li><li>x</li></ul>", "-\n- x"},
    {"<ol start=\"-3\"><li>a</li></ol><ol start=\"12345678901\"><li>b</li></ol>", "0. a\n\n999999999) b"},
    {"<ul>stray<li>a</li></ul>", "- stray\n- a"},
    {"<table><tr><th>a</th><th>b</th></tr><tr><td>1</td><td>2|3</td></tr></table>",
     "| a | b |\n| --- | --- |\n| 1 | 2\\|3 |"},
    {"<table><thead><tr><td>h</td></tr></thead><tbody><tr><td>x</td><td>y</td></tr></tbody></table>",
     "| h |  |\n| --- | --- |\n| x | y |"},
    {"<table><caption>Cap</caption><tr><td>a<br>b</td><td><code>p|q</code></td></tr></table>",
     "Cap\n\n| a<br>b | `p\\|q` |\n| --- | --- |"},
    {"<table><tr><td colspan=\"2\">wide</td></tr><tr><td>a</td><td>b</td></tr></table>",
     "- wide\n\n- a\n\n  b"},
    {"<table><tr><td><p>p1</p><p>p2</p></td></tr></table>", "- p1\n\n  p2"},
    {"<table><tr><td><table><tr><td>in</td></tr></table></td></tr></table>", "- | in |\n  | --- |"},
    {"<table></table><p>x</p>", "x"},
    // Notes and anchors.
    {"<p>Text<a epub:type=\"noteref\" href=\"#n1\">1</a>.</p>"
     "<aside epub:type=\"footnote\" id=\"n1\"><p>The note.</p></aside>",
     "Text[^1].\n\n[^1]: The note."},
    {"<p>A<a role=\"doc-noteref\" href=\"#e2\">2</a></p><ol><li epub:type=\"endnote\" id=\"e2\"><p>End.</p></li>"
     "<li epub:type=\"endnote\" id=\"e3\"><p>Unused.</p></li></ol>",
     "A[^1]\n\n1. Unused.\n\n[^1]: End."},
    {"<p><a href=\"#s2\">go</a></p><h2 id=\"s2\">Two</h2>", "[go](#d0-s2)\n\n## <a id=\"d0-s2\"></a>Two"},
    {"<p><a href=\"#missing\">go</a></p>", "<a id=\"d0\"></a>[go](#d0)"},
    {"<p><a epub:type=\"noteref\" href=\"#x\">9</a></p><p id=\"x\">plain</p>",
     "[9](#d0-x)\n\n<a id=\"d0-x\"></a>plain"},
    {"<p>a<a epub:type=\"noteref\" href=\"#n\">1</a></p><aside epub:type=\"footnote\" id=\"n\">"
     "<ul><li>x</li></ul><p>y</p></aside>",
     "a[^1]\n\n[^1]: - x\n\n    y"},
    {"<p>(a)<a epub:type=\"noteref\" href=\"#n\">1</a>: b<a epub:type=\"noteref\" href=\"#n\">1</a>(c)</p>"
     "<aside epub:type=\"footnote\" id=\"n\"><p>N</p></aside>",
     "(a)[^1]\\: b[^1]\\(c)\n\n[^1]: N"},
};

TEST(GfmGolden, EachConstruct) {
    for (const auto& [html, markdown] : GOLDENS) EXPECT_EQ(convert(html), markdown) << html;
}

// Random documents of every construct, nested at random, with text full of markup
// characters: whatever the mix, cmark-gfm must read back the blocks and the text.
class DocumentGenerator {
public:
    explicit DocumentGenerator(unsigned seed) : random_(seed) {}

    std::string document() {
        html_ = "<html><body>";
        for (int i = pick(1, 6); i > 0; --i) block(0);
        html_ += "<aside epub:type=\"footnote\" id=\"n1\"><p>" + words() + "</p></aside></body></html>";
        return html_;
    }

private:
    std::mt19937 random_;
    std::string html_;

    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    std::string number(int low, int high) { return std::to_string(pick(low, high)); }

    std::string words() {
        static const char* const PIECES[] = {
            "word", "two words", " ", "*", "**", "_", "__", "`", "```", "#", "# ", "> ", "- ", "+ ", "1. ", "2) ",
            "[", "]", "(", ")", "![", "<", ">", "&amp;", "&lt;b&gt;", "&amp;copy;", "|", "~", "~~", "\\", "!",
            ":", "---", "===", "é", "“", "”", "—", "\n", "   ", "a_b", "x*y", "[^1]", "<!-- c -->", "&nbsp;",
            "http://x.y", "1", "9.", "=", "'", "\"",
        };
        std::string text;
        for (int i = pick(1, 6); i > 0; --i) text += PIECES[pick(0, std::size(PIECES) - 1)];
        return text;
    }

    void wrap(const std::string& open, int depth, const char* close) {
        html_ += open;
        inlines(depth);
        html_ += close;
    }

    void inlines(int depth) {
        for (int i = pick(1, 4); i > 0; --i) {
            switch (depth > 3 ? 0 : pick(0, 12)) {
                case 1: wrap("<em>", depth + 1, "</em>"); break;
                case 2: wrap("<strong>", depth + 1, "</strong>"); break;
                case 3: html_ += "<code>" + words() + "</code>"; break;
                case 4: wrap("<a href=\"u(" + number(0, 9) + ") x\">", depth + 1, "</a>"); break;
                case 5: html_ += "<img src=\"i.png\" alt=\"" + words() + "\"/>"; break;
                case 6: html_ += "<br/>"; break;
                case 7: html_ += "<a epub:type=\"noteref\" href=\"#n1\">1</a>"; break;
                case 8: wrap("<span id=\"s" + number(0, 3) + "\">", depth + 1, "</span>"); break;
                case 9: html_ += "<a href=\"#s" + number(0, 3) + "\">" + words() + "</a>"; break;
                default: html_ += words(); break;
            }
        }
    }

    void blocks(int most, int depth) {
        for (int b = pick(0, most); b > 0; --b) block(depth);
    }

    void block(int depth) {
        const int kind = depth > 4 ? pick(0, 1) : pick(0, 11);
        switch (kind) {
            case 0: wrap("<p>", 0, "</p>"); break;
            case 1: inlines(0); break;
            case 2: wrap("<h" + number(1, 6) + ">", 0, "</h1>"); break;
            case 3: case 4:
                html_ += kind == 4 ? "<ol start=\"" + number(0, 12) + "\">" : "<ul>";
                for (int i = pick(0, 3); i > 0; --i) {
                    html_ += "<li>";
                    blocks(2, depth + 1);
                    html_ += "</li>";
                }
                html_ += kind == 4 ? "</ol>" : "</ul>";
                break;
            case 5: html_ += "<blockquote>"; blocks(3, depth + 1); html_ += "</blockquote>"; break;
            case 6: html_ += "<pre>" + words() + "\n" + words() + "</pre>"; break;
            case 7: html_ += "<hr/>"; break;
            case 8: case 9:
                html_ += "<table>";
                for (int r = pick(0, 3); r > 0; --r) {
                    html_ += "<tr>";
                    for (int c = pick(0, 3); c > 0; --c) {
                        html_ += pick(0, 5) == 0 ? "<td colspan=\"2\">" : "<td>";
                        if (kind == 9 && pick(0, 2) == 0) block(depth + 1); else inlines(0);
                        html_ += "</td>";
                    }
                    html_ += "</tr>";
                }
                html_ += "</table>";
                break;
            case 10: html_ += "<div>"; block(depth + 1); inlines(0); html_ += "</div>"; break;
            default: html_ += "<p><em>"; inlines(1); html_ += "<p>"; inlines(1); html_ += "</em></p>"; break;
        }
    }
};

TEST(GfmParseBack, GeneratedDocumentsReadBackAsTheirNodes) {
    for (unsigned seed = 1; seed <= 3000 && !HasFailure(); ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        convert(DocumentGenerator(seed).document());
    }
}

TEST(GfmParseBack, DeepNestingNeitherRecursesNorLosesText) {
    constexpr int DEPTH = 200000;
    for (const char* tag : {"div", "blockquote", "em", "ul"}) {
        std::string html;
        for (int i = 0; i < DEPTH; ++i) html += std::string("<") + tag + ">";
        EXPECT_NE(html_to_gfm(html + "deep").find("deep"), std::string::npos) << tag;
    }
}

// Every corpus book: its GFM (front matter aside) reads back as the nodes of all its
// documents joined, footnotes and cross-document links included.
TEST(GfmCorpus, EveryBookReadsBackAsItsNodes) {
    const auto books = testing::corpus_books();
    if (books.empty()) GTEST_SKIP() << "no corpus at " << QUIRELO_CORPUS_DIR;
    for (const auto& path : books) {
        auto book = read_epub_path(path.string(), ReadOptions{});
        ASSERT_TRUE(book.has_value()) << path;
        const auto spine = spine_documents(*book);
        auto documents = gfm_documents(spine);
        HtmlParser parser;
        for (std::size_t i = 0; i < spine.size(); ++i) build_gfm_document(*spine[i].item, documents[i], parser);
        link_gfm_documents(&*book, documents);
        std::vector<const GfmTree*> shown;
        for (const auto& document : documents)
            if (!render_gfm_document(document).empty()) shown.push_back(&document.tree);
        const std::string markdown = to_gfm(*book);
        ASSERT_TRUE(markdown.starts_with("---\n")) << path;
        const std::size_t body = markdown.find("\n---\n", 3) + 5;
        EXPECT_EQ(testing::parsed_shape(std::string_view(markdown).substr(body)), testing::book_shape(shown)) << path;
    }
}

TEST(GfmBook, FrontMatterAndLinksBetweenDocuments) {
    Book book = testing::minimal_book();
    set_dc_value(book, "title", "A \"quoted\" title\\\n");
    add_author(book, "Ann: Author", std::nullopt, std::nullopt, std::nullopt);
    add_author(book, "Bob", std::nullopt, std::nullopt, std::nullopt);
    testing::add(book, {"one", "text/one.xhtml", "application/xhtml+xml",
                        "<html><body><p>See <a href=\"two.xhtml#az-AZ.09_x\">two</a>, <a href=\"two.xhtml\">its start</a>"
                        "<a epub:type=\"noteref\" href=\"notes.xhtml#n\">1</a> <img src=\"../img/a.png\" alt=\"A\"/>"
                        "<img src=\"missing.png\" alt=\"B\"/></p></body></html>"});
    testing::add(book, {"two", "text/two.xhtml", "application/xhtml+xml",
                        "<html><body><p>Start</p><p id=\"az-AZ.09_x\">Section</p><ul><li>x</li></ul></body></html>"});
    testing::add(book, {"notes", "text/notes.xhtml", "application/xhtml+xml",
                        "<html><body><aside epub:type=\"footnote\" id=\"n\"><p>Note.</p></aside></body></html>"});
    testing::add(book, {"img", "img/a.png", "image/png", "png", ITEM_IMAGE});
    const std::pair<std::string, bool> spine[] = {{"ch1", true}, {"one", true}, {"two", true}, {"notes", true}};
    set_spine(book, spine);
    EXPECT_EQ(to_gfm(book),
              "---\ntitle: \"A \\\"quoted\\\" title\\\\\\n\"\nauthors:\n  - \"Ann: Author\"\n  - \"Bob\"\n"
              "language: \"en\"\nidentifier: \"urn:x\"\n---\n\n"
              "See [two](#d2-az-AZ.09_5Fx), [its start](#d2)[^1] ![A](img/a.png)![B](missing.png)\n\n***\n\n"
              "<a id=\"d2\"></a>Start\n\n<a id=\"d2-az-AZ.09_5Fx\"></a>Section\n\n- x\n\n***\n\n"
              "[^1]: Note.\n");
    EXPECT_EQ(to_gfm(book_new()), "---\ntitle: \"\"\nauthors: []\nlanguage: \"\"\nidentifier: \"\"\n---\n");
}

}  // namespace
}  // namespace quirelo
