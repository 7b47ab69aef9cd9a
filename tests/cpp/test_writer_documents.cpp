// The package document, navigation document and NCX the writer generates, byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "test_support.hpp"
#include "writer/navigation_documents.hpp"
#include "writer/package_document.hpp"
#include "writer/safe_name.hpp"
#include "writer/xml_text.hpp"

using namespace quirelo;
using namespace quirelo::testing;

namespace {

// A (B, C without href (D)), E (leaf without href), G without href (F); text to escape
// and to leave out. F shares B's target; D shares only its file.
std::vector<TocEntry> sample_toc() {
    return {TocEntry("A&B", "a.xhtml?x=1&y=\"2\"",
                     {TocEntry("B", "b.xhtml"), TocEntry("C<\x01", "", {TocEntry("D", "b.xhtml#x")})}),
            TocEntry("E", ""), TocEntry("G", "", {TocEntry("F", "b.xhtml")})};
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

// Everything rules A to F touch, in one book.
Book representative_book(std::string version) {
    Book book = book_new();
    book.version = std::move(version);
    append_metadata(book, "DC", "identifier", "urn:uuid:1", attributes({{"opf:scheme", "uuid"}, {"id", "pub-id"}}));
    append_metadata(book, "DC", "identifier", "isbn", {});
    append_metadata(book, "DC", "publisher", "P\x01u\xEF\xBF\xBF" "b",
                    attributes({{"xml:lang", "fr"}, {"", "e"}, {"bad key", "z"}, {"data-x", "1"}}));
    append_metadata(book, "DC", "creator", "Jane", attributes({{"opf:role", "aut"}, {"opf:file-as", "Doe, Jane"}}));
    append_metadata(book, "DC", "creator", "Bob", attributes({{"opf:role", "edt"}, {"id", "c2"}}));
    append_metadata(book, "DC", "language", "en", {});
    append_metadata(book, "DC", "title", "Q&A <1> \"it's\"", {});
    append_metadata(book, "DC", "bad name", "x", {});
    append_metadata(book, "DC", "", "x", {});
    append_metadata(book, "OPF", "cover", "cover-image", {});
    append_metadata(book, "OPF", "x", "ignored", attributes({{"name", "A"}, {"content", "B"}}));
    append_metadata(book, "OPF", "rendition:layout", "pre-paginated", {});
    append_metadata(book, "OPF", "y", "v", attributes({{"refines", "#x"}, {"property", "p"}}));
    append_metadata(book, "OPF", "cover", "c&", {});
    append_metadata(book, "OPF", "m", "v", attributes({{"property", "p"}}));
    append_metadata(book, "OPF", "m", "v", attributes({{"scheme", "s"}, {"", "dropped"}, {"a b", "dropped"}}));
    append_metadata(book, "OPF", "m", "\xEF\xBF\xBE", attributes({{"id", "i\x01\x1f\t"}}));
    // Keys that are no XML name, or whose prefix nothing declares, are left out.
    append_metadata(book, "OPF", "m", "v", attributes({{"1a", "x"}, {"ns:x", "x"}, {"xmlns:y", "x"}, {"xml:lang", "en"}}));
    append_metadata(book, "OPF", "a:b", "v", attributes({{"name", "n"}}));
    append_metadata(book, "OPF", "a:b", "v", attributes({{"content", "c"}}));
    append_metadata(book, "OPF", "bad name", "v", {});
    // A read book's prefix attribute comes back on the package element (EPUB 3 only). Every
    // meta the caller set is written, whether its prefix is declared there or not (an
    // undeclared one is the book's validity warning, not a reason to lose the meta).
    book.package_prefix = "foo: http://example.org/foo#\r\n bar:\thttp://example.org/bar#";
    append_metadata(book, "OPF", "m", "v", attributes({{"property", "baz:x"}}));
    append_metadata(book, "OPF", "a:b", "v", attributes({{"id", "m1"}}));
    for (const char* property : {"foo:a", "baz:c"}) append_metadata(book, "OPF", property, "v", {});
    append_metadata(book, "OPF", "s", "v", attributes({{"scheme", "baz:y"}}));
    append_metadata(book, "OTHER", "secret", "s", {});
    add(book, {"ch1", "text/ch1.xhtml", "application/xhtml+xml", "", ITEM_DOCUMENT});
    add(book, {"cover-image", "cover.jpg", "image/jpeg", "", ITEM_COVER});
    add(book, {"cv", "cv.svg", "image/svg+xml", "", ITEM_COVER, "svg"});
    add(book, {"toc", "nav.xhtml", "application/xhtml+xml", "", ITEM_NAVIGATION});
    add(book, {"ncx", "toc.ncx", "application/x-dtbncx+xml", "", ITEM_NAVIGATION});
    add(book, {"n1", "n1.xhtml", "text/html", "", ITEM_NAVIGATION});  // not xhtml: no nav property
    add(book, {"n2", "n2.xhtml", "application/xhtml+xml", "", ITEM_NAVIGATION, ""});
    add(book, {"c", "c.png", "image/png", "", ITEM_COVER, "a\"b"});
    auto item = std::make_shared<Item>("ch2", "ch 2.xhtml?a=1&b", "application/xhtml+xml", "", ITEM_DOCUMENT);
    item->media_overlay = "mo";
    item->fallback = "ch1";
    add_item(book, item);
    book.spine.push_back({"ch1", std::nullopt, true});
    book.spine.push_back({"ch2", "page-spread-left", false});
    return book;
}

constexpr const char* MANIFEST_AND_SPINE =
    "  <manifest>\n"
    "    <item id=\"ch1\" href=\"text/ch1.xhtml\" media-type=\"application/xhtml+xml\"/>\n"
    "    <item id=\"cover-image\" href=\"cover.jpg\" media-type=\"image/jpeg\" properties=\"cover-image\"/>\n"
    "    <item id=\"cv\" href=\"cv.svg\" media-type=\"image/svg+xml\" properties=\"svg\"/>\n"
    "    <item id=\"toc\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>\n"
    "    <item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>\n"
    "    <item id=\"n1\" href=\"n1.xhtml\" media-type=\"text/html\"/>\n"
    "    <item id=\"n2\" href=\"n2.xhtml\" media-type=\"application/xhtml+xml\" properties=\"\"/>\n"
    "    <item id=\"c\" href=\"c.png\" media-type=\"image/png\" properties=\"a&quot;b\"/>\n"
    "    <item id=\"ch2\" href=\"ch 2.xhtml?a=1&amp;b\" media-type=\"application/xhtml+xml\" media-overlay=\"mo\" "
    "fallback=\"ch1\"/>\n"
    "  </manifest>\n"
    "  <spine toc=\"ncx\">\n"
    "    <itemref idref=\"ch1\"/>\n"
    "    <itemref idref=\"ch2\" linear=\"no\" properties=\"page-spread-left\"/>\n"
    "  </spine>\n"
    "</package>\n";

// The parts both modes share around the package attributes and the Dublin Core elements
// they write differently.
std::string package_document(const char* attributes, const char* identifier, const char* people_and_refinements) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"") + attributes + ">\n"
           "  <metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:opf=\"http://www.idpf.org/2007/opf\">\n" +
           identifier +
           "    <dc:identifier>isbn</dc:identifier>\n"
           "    <dc:title>Q&amp;A &lt;1&gt; &quot;it&apos;s&quot;</dc:title>\n"
           "    <dc:language>en</dc:language>\n" +
           people_and_refinements +
           "    <meta name=\"cover\" content=\"cover-image\"/>\n"
           "    <meta name=\"cover\" content=\"c&amp;\"/>\n"
           "    <meta content=\"B\" name=\"A\"/>\n"
           "    <meta property=\"rendition:layout\">pre-paginated</meta>\n"
           "    <meta property=\"p\" refines=\"#x\">v</meta>\n"
           "    <meta property=\"p\">v</meta>\n"
           "    <meta scheme=\"s\" name=\"m\" content=\"v\"/>\n"
           "    <meta id=\"i&#9;\" name=\"m\" content=\"\"/>\n"
           "    <meta xml:lang=\"en\" name=\"m\" content=\"v\"/>\n"
           "    <meta property=\"baz:x\">v</meta>\n"
           "    <meta name=\"n\" content=\"v\"/>\n"
           "    <meta content=\"c\" name=\"a:b\"/>\n"
           "    <meta id=\"m1\" property=\"a:b\">v</meta>\n"
           "    <meta property=\"foo:a\">v</meta>\n"
           "    <meta property=\"baz:c\">v</meta>\n"
           "    <meta scheme=\"baz:y\" name=\"s\" content=\"v\"/>\n"
           "  </metadata>\n" + MANIFEST_AND_SPINE;
}

}  // namespace

TEST(WriterPackageDocument, Epub3DocumentIsExact) {
    EXPECT_EQ(generate_opf(representative_book("3.0"), true, false, fixed_time()),
              package_document("3.0\" unique-identifier=\"pub-id\" prefix=\"foo: http://example.org/foo#&#13;&#10; "
                               "bar:&#9;http://example.org/bar#\"",
                               "    <dc:identifier id=\"pub-id\">urn:uuid:1</dc:identifier>\n",
                               "    <dc:creator id=\"dc-id-1\">Jane</dc:creator>\n"
                               "    <dc:creator id=\"c2\">Bob</dc:creator>\n"
                               "    <dc:publisher xml:lang=\"fr\">Pub</dc:publisher>\n"
                               "    <meta refines=\"#pub-id\" property=\"scheme\">uuid</meta>\n"
                               "    <meta refines=\"#dc-id-1\" property=\"file-as\">Doe, Jane</meta>\n"
                               "    <meta refines=\"#dc-id-1\" property=\"role\">aut</meta>\n"
                               "    <meta refines=\"#c2\" property=\"role\">edt</meta>\n"
                               "    <meta property=\"dcterms:modified\">2024-02-29T13:05:09Z</meta>\n"));
}

TEST(WriterPackageDocument, Epub2DocumentIsExact) {
    EXPECT_EQ(generate_opf(representative_book("2.0.1"), true, false, fixed_time()),
              package_document("2.0\" unique-identifier=\"pub-id\"",
                               "    <dc:identifier opf:scheme=\"uuid\" id=\"pub-id\">urn:uuid:1</dc:identifier>\n",
                               "    <dc:creator opf:file-as=\"Doe, Jane\" opf:role=\"aut\">Jane</dc:creator>\n"
                               "    <dc:creator opf:role=\"edt\" id=\"c2\">Bob</dc:creator>\n"
                               "    <dc:publisher data-x=\"1\" xml:lang=\"fr\">Pub</dc:publisher>\n"));
}

// The golden documents name a safe id, in the modes of "3.0" and "2.0.1"; an unsafe id, or
// none, gives way to BookId, and only a leading '2' chooses EPUB 2.
TEST(WriterPackageDocument, VersionTextAndUniqueIdentifier) {
    const std::tuple<const char*, AttributeMap, const char*> cases[] = {
        {"3.0", attributes({{"id", "a&b"}}), "3.0"}, {"20", {}, "2.0"}, {"2", {}, "2.0"},
        {"3.3", {}, "3.0"}, {"", {}, "3.0"}, {" 2.0", {}, "3.0"}};
    for (const auto& [version, identifier_attributes, written] : cases) {
        Book book = minimal_book(version);
        book.metadata.find("DC")->find("identifier")->front().attributes = identifier_attributes;
        const std::string document = generate_opf(book, false, false, fixed_time());
        EXPECT_NE(document.find(std::string("version=\"") + written + "\" unique-identifier=\"BookId\">\n"),
                  std::string::npos) << version;
        EXPECT_NE(document.find("    <dc:identifier id=\"BookId\">urn:x</dc:identifier>\n"), std::string::npos);
    }
}

// Fields and the dropped fraction are pinned by the golden documents.
TEST(WriterPackageDocument, ModificationTimesBefore1970Clamp) {
    using namespace std::chrono;
    EXPECT_EQ(format_modified_time(sys_days{1969y / July / 20} + 20h), "1970-01-01T00:00:00Z");
}

TEST(WriterPackageDocument, SafeNames) {
    using Case = std::pair<std::string_view, bool>;
    // Letters and digits of any script (Nd, Nl, No); no emoji, U+FFFD, markup or broken bytes.
    const Case cases[] = {
        {"", true},       {"dc:x-y.z_1", true}, {"\xC3\xA9t\xC3\xA9", true}, {"\xD9\xA3", true},  {"\xE2\x85\xAB", true},
        {"\xC2\xBD", true}, {"a b", false},       {"a<", false},           {"a/b", false}, {"\xFF", false},
        {std::string_view("a\0b", 3), false},  {"\xF0\x9F\x98\x80", false}, {"\xEF\xBF\xBD", false},
    };
    for (const auto& [name, safe] : cases) EXPECT_EQ(is_safe_name(name), safe) << name;

    // Element names and the halves of attribute names: XML names without a colon.
    // A digit of any script cannot start one; U+00AA is alphabetic, but no XML name character.
    const Case xml_names[] = {{"", false},    {"_x-1.2", true}, {"\xE4\xB8\xAD", true}, {"1st", false},
                              {"-x", false},  {"a:b", false},   {"\xD9\xA3", false},  {"\xC2\xAA", false}};
    for (const auto& [name, safe] : xml_names) EXPECT_EQ(is_xml_ncname(name), safe) << name;
}

TEST(WriterPackageDocument, XmlTextLeavesOutForbiddenCharacters) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"<&>\"'", "&lt;&amp;&gt;&quot;&apos;"}, {"a\tb\nc\rd", "a\tb\nc\rd"},
        {std::string_view("\0x\x01y\x1f", 5), "xy"}, {"\xEF\xBF\xBE\xEF\xBF\xBF&\xEF\xBF\xBD", "&amp;\xEF\xBF\xBD"},
        {"\xEF\xBF", "\xEF\xBF"},                  {"\xC3\xA9\x7F", "\xC3\xA9\x7F"}, {"ok\x01", "ok"}};
    for (const auto& [text, written] : cases) {
        std::string out = "^";
        append_xml_text(out, text);
        EXPECT_EQ(out, "^" + std::string(written));
        EXPECT_EQ(has_xml_forbidden_characters(text), xml_allowed_text(text) != text) << text;
    }
}

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
                                 "              <li><a href=\"b.xhtml#x\">D</a></li>\n"
                                 "            </ol>\n"
                                 "          </li>\n"
                                 "        </ol>\n"
                                 "      </li>\n"
                                 "      <li><a href=\"\">E</a></li>\n"
                                 "      <li>\n"
                                 "        <span>G</span>\n"
                                 "        <ol>\n"
                                 "          <li><a href=\"b.xhtml\">F</a></li>\n"
                                 "        </ol>\n"
                                 "      </li>\n"
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
                                 "        <content src=\"b.xhtml#x\"/>\n"
                                 "      </navPoint>\n"
                                 "    </navPoint>\n"
                                 // An entry without href lends its place to its children; points that
                                 // share a target share the first one's play order, ids stay one per point.
                                 "    <navPoint id=\"np4\" playOrder=\"2\">\n"
                                 "      <navLabel><text>F</text></navLabel>\n"
                                 "      <content src=\"b.xhtml\"/>\n"
                                 "    </navPoint>\n" +
                                 NCX_TAIL;
    EXPECT_EQ(generate_ncx(book, "urn:x&y"), expected);
    EXPECT_EQ(generate_ncx(book_new(), "urn:x&y"), ncx_head("Untitled") + NCX_TAIL);
}
