#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_writer_books.hpp"
#include "writer/navigation_documents.hpp"

using namespace quirelo;
using writer_test::minimal_book;

namespace {

// A (B, C without href (D)), E (leaf without href); text to escape and to leave out.
std::vector<TocEntry> sample_toc() {
    return {TocEntry("A&B", "a.xhtml?x=1&y=\"2\"",
                     {TocEntry("B", "b.xhtml"), TocEntry("C<\x01", "", {TocEntry("D", "d.xhtml#x")})}),
            TocEntry("E", "")};
}

// A chain of entries `depth` levels deep, each with an href.
std::vector<TocEntry> chain(std::size_t depth) {
    TocEntry entry("t", "h");
    for (std::size_t level = 1; level < depth; ++level) {
        TocEntry parent("t", "h");
        parent.children.push_back(std::move(entry));
        entry = std::move(parent);
    }
    std::vector<TocEntry> toc;
    toc.push_back(std::move(entry));
    return toc;
}

constexpr const char* NAV_HEAD =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\">\n"
    "<head><title>Table of Contents</title></head>\n"
    "<body>\n"
    "  <nav epub:type=\"toc\">\n"
    "    <h1>Table of Contents</h1>\n";
constexpr const char* NAV_TAIL = "  </nav>\n</body>\n</html>\n";

std::string ncx_head(std::string_view title) {
    return std::string(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" version=\"2005-1\">\n"
               "  <head>\n"
               "    <meta name=\"dtb:uid\" content=\"urn:x&amp;y\"/>\n"
               "  </head>\n"
               "  <docTitle><text>") +
           std::string(title) + "</text></docTitle>\n  <navMap>\n";
}
constexpr const char* NCX_TAIL = "  </navMap>\n</ncx>\n";

}  // namespace

TEST(WriterNavigation, NavigationDocumentIsExact) {
    const std::string expected = std::string(NAV_HEAD) +
                                 "    <ol>\n"
                                 "      <li>\n"
                                 "        <a href=\"a.xhtml?x=1&amp;y=&quot;2&quot;\">A&amp;B</a>\n"
                                 "        <ol>\n"
                                 "          <li><a href=\"b.xhtml\">B</a></li>\n"
                                 "          <li>\n"
                                 "            <span>C&lt;</span>\n"
                                 "            <ol>\n"
                                 "              <li><a href=\"d.xhtml#x\">D</a></li>\n"
                                 "            </ol>\n"
                                 "          </li>\n"
                                 "        </ol>\n"
                                 "      </li>\n"
                                 "      <li><a href=\"\">E</a></li>\n"
                                 "    </ol>\n" +
                                 NAV_TAIL;
    EXPECT_EQ(generate_nav(sample_toc()), expected);
    EXPECT_EQ(generate_nav({}), std::string(NAV_HEAD) + NAV_TAIL);
}

TEST(WriterNavigation, NcxIsExact) {
    Book book = minimal_book();
    set_dc_value(book, "title", "Q&A");
    book.toc = sample_toc();
    const std::string expected = ncx_head("Q&amp;A") +
                                 "    <navPoint id=\"np1\" playOrder=\"1\">\n"
                                 "      <navLabel><text>A&amp;B</text></navLabel>\n"
                                 "      <content src=\"a.xhtml?x=1&amp;y=&quot;2&quot;\"/>\n"
                                 "      <navPoint id=\"np2\" playOrder=\"2\">\n"
                                 "        <navLabel><text>B</text></navLabel>\n"
                                 "        <content src=\"b.xhtml\"/>\n"
                                 "      </navPoint>\n"
                                 "      <navPoint id=\"np3\" playOrder=\"3\">\n"
                                 "        <navLabel><text>D</text></navLabel>\n"
                                 "        <content src=\"d.xhtml#x\"/>\n"
                                 "      </navPoint>\n"
                                 "    </navPoint>\n" +
                                 NCX_TAIL;
    EXPECT_EQ(generate_ncx(book, "urn:x&y"), expected);
}

TEST(WriterNavigation, NcxEdgeCases) {
    Book book = book_new();
    EXPECT_EQ(generate_ncx(book, "urn:x&y"), ncx_head("Untitled") + NCX_TAIL);

    // A top-level entry without href lends its place to its children, numbered on.
    set_dc_value(book, "title", "");
    book.toc = {TocEntry("1", "1.xhtml"), TocEntry("group", "", {TocEntry("2", "2.xhtml", {TocEntry("3", "3.xhtml")})}),
                TocEntry("4", "4.xhtml")};
    const std::string expected = ncx_head("") +
                                 "    <navPoint id=\"np1\" playOrder=\"1\">\n"
                                 "      <navLabel><text>1</text></navLabel>\n"
                                 "      <content src=\"1.xhtml\"/>\n"
                                 "    </navPoint>\n"
                                 "    <navPoint id=\"np2\" playOrder=\"2\">\n"
                                 "      <navLabel><text>2</text></navLabel>\n"
                                 "      <content src=\"2.xhtml\"/>\n"
                                 "      <navPoint id=\"np3\" playOrder=\"3\">\n"
                                 "        <navLabel><text>3</text></navLabel>\n"
                                 "        <content src=\"3.xhtml\"/>\n"
                                 "      </navPoint>\n"
                                 "    </navPoint>\n"
                                 "    <navPoint id=\"np4\" playOrder=\"4\">\n"
                                 "      <navLabel><text>4</text></navLabel>\n"
                                 "      <content src=\"4.xhtml\"/>\n"
                                 "    </navPoint>\n" +
                                 NCX_TAIL;
    EXPECT_EQ(generate_ncx(book, "urn:x&y"), expected);
}

// Points that share a target share the first one's play order; ids stay one per point.
TEST(WriterNavigation, NcxPlayOrderIsOnePerTarget) {
    Book book = book_new();
    book.toc = {TocEntry("1", "a.xhtml", {TocEntry("1 again", "a.xhtml")}), TocEntry("2", "b.xhtml"),
                TocEntry("1 once more", "a.xhtml"), TocEntry("3", "a.xhtml#x")};
    const std::string ncx = generate_ncx(book, "u");
    std::string points;
    for (std::size_t at = ncx.find("<navPoint"); at != std::string::npos; at = ncx.find("<navPoint", at + 1)) {
        points += ncx.substr(at, ncx.find('>', at) + 1 - at);
    }
    EXPECT_EQ(points,
              "<navPoint id=\"np1\" playOrder=\"1\"><navPoint id=\"np2\" playOrder=\"1\">"
              "<navPoint id=\"np3\" playOrder=\"2\"><navPoint id=\"np4\" playOrder=\"1\">"
              "<navPoint id=\"np5\" playOrder=\"3\">");
}

// Indentation follows depth up to MAX_INDENT_STEPS steps; deeper lines start flush left,
// so that the documents stay linear in the size of the tree.
TEST(WriterNavigation, IndentationStopsAtItsLimit) {
    const std::size_t depth = MAX_INDENT_STEPS;  // nav list items reach 2 * depth + 1 steps
    const std::string nav = generate_nav(chain(depth));
    std::size_t deepest_indent = 0;
    std::size_t flush_left = 0;
    for (std::size_t line = 0; line < nav.size(); line = nav.find('\n', line) + 1) {
        const std::size_t indent = nav.find_first_not_of(' ', line) - line;
        deepest_indent = std::max(deepest_indent, indent);
        if (indent == 0 && nav.compare(line, 4, "<li>") == 0) ++flush_left;
    }
    EXPECT_EQ(deepest_indent, 2 * MAX_INDENT_STEPS);
    EXPECT_GT(flush_left, 0u);
    EXPECT_NE(nav.find(std::string(2 * MAX_INDENT_STEPS, ' ') + "<ol>\n"), std::string::npos);
    EXPECT_NE(nav.find("\n<li><a href=\"h\">t</a></li>\n"), std::string::npos);
}

// The full million-level chain is written through the archive (test_writer_archive.cpp);
// here a chain of entries without href, which collapses to its last entry at top level.
TEST(WriterNavigation, MillionLevelsWithoutHrefs) {
    Book book = minimal_book();
    TocEntry entry("leaf", "leaf.xhtml");
    for (std::size_t level = 1; level < 1'000'000; ++level) {
        TocEntry parent("t", "");
        parent.children.push_back(std::move(entry));
        entry = std::move(parent);
    }
    book.toc.push_back(std::move(entry));
    std::string expected = ncx_head("T");
    expected.replace(expected.find("urn:x&amp;y"), 11, "u");
    expected += "    <navPoint id=\"np1\" playOrder=\"1\">\n"
                "      <navLabel><text>leaf</text></navLabel>\n"
                "      <content src=\"leaf.xhtml\"/>\n"
                "    </navPoint>\n";
    EXPECT_EQ(generate_ncx(book, "u"), expected + NCX_TAIL);
    const std::string nav = generate_nav(book.toc);
    EXPECT_NE(nav.find("<li><a href=\"leaf.xhtml\">leaf</a></li>\n"), std::string::npos);
    EXPECT_TRUE(nav.ends_with(NAV_TAIL));
}
