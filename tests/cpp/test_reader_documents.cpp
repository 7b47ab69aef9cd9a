#include <gtest/gtest.h>

#include <string>

#include "model/toc.hpp"
#include "reader/container.hpp"
#include "reader/lenient_toc.hpp"
#include "reader/package_document.hpp"
#include "reader/refinements.hpp"
#include "reader/toc_parsing.hpp"
#include "reader/xml_tree.hpp"
#include "test_support.hpp"

using namespace quirelo;
using quirelo::testing::nav_xhtml;
using quirelo::testing::ncx_xml;
using quirelo::testing::package_xml;

namespace {

// Entities, CDATA and references merge into one text; invalid UTF-8 is repaired whatever
// the declared encoding; a byte order mark is accepted.
TEST(XmlTree, TextOfOneNode) {
    auto doc = parse_xml("<t>a &amp; b<![CDATA[ <c> ]]>&#233;&#x41;</t>");
    ASSERT_TRUE(doc.has_value()) << doc.error().message();
    EXPECT_EQ(child_text(doc->root_element()), "a & b <c> \xC3\xA9" "A");
    EXPECT_FALSE(doc->root_element().first_child().next_sibling());
    auto repaired = parse_xml("<?xml version='1.0' encoding='ISO-8859-1'?><t>caf\xC3\xA9 \xFF!</t>");
    EXPECT_EQ(child_text(repaired.value().root_element()), "caf\xC3\xA9 \xEF\xBF\xBD!");
    EXPECT_EQ(child_text(parse_xml("\xEF\xBB\xBF<t>x</t>").value().root_element()), "x");
}

TEST(XmlTree, MillionLevelsDeepParsesAndWalksWithoutRecursion) {
    constexpr std::size_t DEPTH = 1'000'000;
    std::string xml;
    xml.reserve(DEPTH * 7 + 16);
    for (std::size_t i = 0; i < DEPTH; ++i) xml += "<a>";
    xml += "deep";
    for (std::size_t i = 0; i < DEPTH; ++i) xml += "</a>";
    auto doc = parse_xml(xml);
    ASSERT_TRUE(doc.has_value()) << doc.error().message();
    XmlNode root = doc->root_element();
    EXPECT_EQ(all_text(root), "deep");
    EXPECT_FALSE(root.first_descendant_named("missing"));
    EXPECT_EQ(doc->node_count(), DEPTH + 2);  // document node + elements + the text
}

// Without any rootfile the read fails: ReaderFailures' no_rootfile.
TEST(ReaderContainer, FirstRootfileWithAPathKeptAsWritten) {
    const std::string ns = "<c xmlns='urn:oasis:names:tc:opendocument:xmlns:container'>";
    EXPECT_EQ(parse_container(ns + "<rootfiles><rootfile/><rootfile full-path='b.opf'/></rootfiles></c>"), "b.opf");
    EXPECT_EQ(parse_container(ns + "<rootfile full-path=''/></c>"), "");
}

// One line per entry: "group name=value key=value...", in store order.
std::string dump(const MetadataStore& store) {
    std::string out;
    for (const auto& [group, names] : store)
        for (const auto& [name, entries] : names)
            for (const MetadataEntry& entry : entries) {
                out += group + " " + name + "=" + entry.value;
                for (const auto& [key, value] : entry.attributes) out += " " + key + "=" + value;
                out += "\n";
            }
    return out;
}

TEST(ReaderPackage, MetadataRules) {
    auto package = parse_package(package_xml(
        "<dc:title> Spaced <!--x--></dc:title>"
        "<dc:creator id='c1' opf:role='aut' xmlns:opf='http://www.idpf.org/2007/opf' xml:lang='fr'"
        " xmlns:o2='urn:other' o2:x='y'>Ann</dc:creator>"
        "<dc:subject><!--c-->Sub</dc:subject>"
        "<dc:description><b>bold</b></dc:description>"
        "<meta property='dcterms:modified' content='2020'/>"
        "<meta property='p'>text</meta>"
        "<meta name='cover' content='img'/>"
        "<meta name='lonely'/>"
        "<link rel='x' href='y'/>"
        "<dc:title>Second</dc:title>",
        "", ""));
    ASSERT_TRUE(package.has_value()) << package.error().message();
    EXPECT_EQ(package->version, "3.0");
    // Text as written (comments skipped, elements inside not), attributes by prefixed name,
    // metas by property or name; a meta with neither content nor text and links dropped.
    EXPECT_EQ(dump(package->metadata),
              "DC title= Spaced \n"
              "DC title=Second\n"
              "DC creator=Ann id=c1 opf:role=aut xml:lang=fr ns:x=y\n"
              "DC subject=Sub\n"
              "DC description=\n"
              "OPF dcterms:modified=2020 property=dcterms:modified content=2020\n"
              "OPF p=text property=p\n"
              "OPF cover=img name=cover content=img\n");
}

TEST(ReaderPackage, ManifestAndSpine) {
    auto package = parse_package(package_xml(
        "",
        "<item id='a' href='a.xhtml' media-type='application/xhtml+xml' properties='nav' fallback='b'"
        " media-overlay='s'/>"
        "<item id='nohref'/><item href='noid.x'/>"
        "<item id='b' href='b.png'/>"
        "<item id='a' href='a2.xhtml' media-type='text/html'/>",
        "<itemref idref='a'/><itemref idref='b' linear='no' properties='page-spread-left'/>"
        "<itemref idref='a' linear='No'/><itemref/><itemref idref='ghost' linear='false'/>",
        "toc='ncx'"));
    ASSERT_TRUE(package.has_value()) << package.error().message();
    ASSERT_EQ(package->manifest.size(), 2u);
    // The later "a" replaced the earlier one in place.
    const auto& first = package->manifest.begin()->second;
    EXPECT_EQ(std::tuple(first.id, first.href, first.media_type), std::tuple("a", "a2.xhtml", "text/html"));
    EXPECT_FALSE(first.properties.has_value());
    const auto* b = package->manifest.find("b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->media_type, "");
    EXPECT_EQ(package->spine_toc, "ncx");
    std::vector<std::pair<std::string, bool>> spine;
    for (const auto& itemref : package->spine) spine.emplace_back(itemref.idref, itemref.linear);
    EXPECT_EQ(spine, (std::vector<std::pair<std::string, bool>>{{"a", true}, {"b", false}, {"a", true}, {"ghost", true}}));
    EXPECT_EQ(package->spine[1].properties, "page-spread-left");
}

TEST(ReaderPackage, RootOfAnyNameAndMissingSections) {
    auto package = parse_package("<book version='2.0'><manifest/><spine/><manifest><item id='x' href='x'/></manifest></book>");
    ASSERT_TRUE(package.has_value());
    EXPECT_EQ(package->version, "2.0");
    EXPECT_TRUE(package->manifest.empty() && package->metadata.empty());  // only the first manifest counts
    EXPECT_FALSE(package->spine_toc.has_value());

    EXPECT_EQ(parse_package("<package/>").value().version, "3.0");
}

TEST(ReaderRefinements, FoldsKnownPropertiesOntoTheirTarget) {
    auto package = parse_package(package_xml(
        "<dc:creator id='creator01'>Ann</dc:creator>"
        "<dc:contributor id='c2'>Bob</dc:contributor>"
        "<meta refines='#creator01' property='file-as'>Ann, A</meta>"
        "<meta refines='##c2' property='role' scheme='marc:relators'>edt</meta>"
        "<meta refines='#c2' property='role'>trl</meta>"
        "<meta refines='#creator01' property='alternate-script'>アン</meta>"
        "<meta refines='#nobody' property='file-as'>X</meta>"
        "<meta property='dcterms:modified'>2020</meta>",
        "", ""));
    ASSERT_TRUE(package.has_value());
    fold_refinements(package->metadata);
    // The later refinement wins; unknown properties and unknown targets stay metas.
    EXPECT_EQ(dump(package->metadata),
              "DC creator=Ann id=creator01 opf:file-as=Ann, A\n"
              "DC contributor=Bob id=c2 opf:role=trl\n"
              "OPF file-as=X refines=#nobody property=file-as\n"
              "OPF alternate-script=\u30A2\u30F3 refines=#creator01 property=alternate-script\n"
              "OPF dcterms:modified=2020 property=dcterms:modified\n");
}

TEST(ReaderNav, EntriesTitlesAndHrefs) {
    auto toc = parse_nav(nav_xhtml(
        "<li><a href='c1.xhtml#s'>\n  Chapter <em>One</em>\n  <span>!</span>\n</a></li>"
        "<li><span>Part</span><ol><li><a href='p%201.xhtml'>Inner</a></li></ol></li>"
        "<li>bare text<b>x</b></li>"
        "<li><a>No href</a></li>"
        "<p>ignored</p>"));
    ASSERT_TRUE(toc.has_value()) << toc.error().message();
    EXPECT_EQ(*toc, (std::vector<TocEntry>{{"Chapter One\n  !", "c1.xhtml#s"}, {"Part", "", {{"Inner", "p%201.xhtml"}}},
                                           {"", ""}, {"No href", ""}}));
}

TEST(ReaderNav, ChoosesTheTocNav) {
    const std::string head =
        "<html xmlns='http://www.w3.org/1999/xhtml' xmlns:epub='http://www.idpf.org/2007/ops'"
        " xmlns:other='urn:x'><body>";
    const std::pair<std::string, std::string> cases[] = {
        // A namespaced epub:type wins over an earlier plain one; "toc landmarks" never matches.
        {"<nav type='toc'><ol><li><a href='plain'>P</a></li></ol></nav>"
         "<nav epub:type='toc landmarks'><ol><li><a href='multi'>M</a></li></ol></nav>"
         "<nav epub:type='toc'><ol><li><a href='ns'>N</a></li></ol></nav>", "ns"},
        {"<nav other:type='toc'><ol><li><a href='any'>A</a></li></ol></nav>", "any"},
        {"<nav epub:type='landmarks'><ol><li/></ol></nav>", ""},
        {"<nav epub:type='toc'><ul><li/></ul></nav>", ""}};
    for (const auto& [navs, href] : cases) {
        auto toc = parse_nav(head + navs + "</body></html>");
        ASSERT_TRUE(toc.has_value());
        EXPECT_EQ(toc->empty() ? "" : (*toc)[0].href, href);
        EXPECT_LE(toc->size(), 1u);
    }
}

// A doctype fails either document: ReaderTocSource.NavFirstThenTheSpinesNcx.
TEST(ReaderNav, FailsOnHtmlEntitiesNcxWithoutNavMapIsEmpty) {
    EXPECT_FALSE(parse_nav(nav_xhtml("<li><a href='a'>A&nbsp;B</a></li>")).has_value());
    EXPECT_TRUE(parse_ncx("<ncx><docTitle/></ncx>").value().empty());
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
    // The last point, without its own label and content, takes those of its first nested point.
    EXPECT_EQ(*toc, (std::vector<TocEntry>{{"  One  ", "one.html#x", {{"Inner", "in.html"}}}, {"", ""},
                                           {"Borrowed", "b.html", {{"Borrowed", "b.html"}}}}));
}

TEST(LenientMarkup, BecomesXml) {
    const std::pair<std::string, std::string> cases[] = {
        // The prolog's declaration goes, even with an internal subset and quoted ">".
        {"<?xml version='1.0'?><!-- c --><!doctype html [<!ENTITY a 'x>y'>]><p/>", "<?xml version='1.0'?><!-- c --><p/>"},
        {"<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" \"a>b.dtd\">\n<p/>", "\n<p/>"},
        // A stray "]" closes no subset, so the next ">" still ends the declaration.
        {"<!DOCTYPE html]><p/>", "<p/>"},
        // Only in the prolog: a later one is the parser's to judge.
        {"<p/><!DOCTYPE x>", "<p/><!DOCTYPE x>"},
        // HTML names become numeric references (two for a two-character name), in text
        // and attributes; XML's own names, numeric references and unknown names stay.
        {"<a title='&eacute;'>&nbsp;&amp;&lt;&#233;&NotEqualTilde;&bogus;&nbsp</a>",
         "<a title='&#233;'>&#160;&amp;&lt;&#233;&#8770;&#824;&bogus;&nbsp</a>"},
        {"& &; &nbsp &" + std::string(60, 'a') + "; &", "& &; &nbsp &" + std::string(60, 'a') + "; &"}};
    for (const auto& [html, xml] : cases) EXPECT_EQ(xml_from_html_markup(html), xml);
}

// Each document skipped when ignored: test_pipeline.py's lenient navigation documents.
TEST(LenientToc, NavFirstWhereverListedThenNcx) {
    const std::string nav = "<!DOCTYPE html>" + nav_xhtml("<li><a href='n'>N&hellip;</a></li>");
    const std::string ncx = "<!DOCTYPE ncx>" +
        ncx_xml("<navPoint><navLabel><text>X&mdash;</text></navLabel><content src='x'/></navPoint>");
    const std::vector<NavigationDocument> both{{"application/x-dtbncx+xml", ncx}, {"application/xhtml+xml", nav}};
    EXPECT_EQ(lenient_toc(both, {}), std::vector<TocEntry>{TocEntry("N\u2026", "n")});
    const std::string empty_nav = nav_xhtml("");  // documents only view their bytes
    const std::vector<NavigationDocument> empty_first{{"application/xhtml+xml", empty_nav}, both[0]};
    EXPECT_EQ(lenient_toc(empty_first, {}), std::vector<TocEntry>{TocEntry("X\u2014", "x")});
}

}  // namespace
