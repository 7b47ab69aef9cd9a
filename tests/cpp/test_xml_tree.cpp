#include <gtest/gtest.h>

#include <string>

#include "model/epub_vocabulary.hpp"
#include "reader/xml_tree.hpp"

using quirelo::all_text;
using quirelo::child_text;
using quirelo::first_text;
using quirelo::parse_xml;
using quirelo::XmlNode;

namespace {

struct RefusedCase {
    const char* name;
    std::string xml;
    const char* expected_fragment;
};

class XmlRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(XmlRefused, FailsWithMessage) {
    auto parsed = parse_xml(GetParam().xml);
    ASSERT_FALSE(parsed.has_value());
    EXPECT_NE(parsed.error().detail.find(GetParam().expected_fragment), std::string::npos) << parsed.error().message();
}

INSTANTIATE_TEST_SUITE_P(
    Rules, XmlRefused,
    ::testing::Values(
        RefusedCase{"doctype_plain", "<!DOCTYPE html><html/>", "XML with DTD detected"},
        RefusedCase{"doctype_after_prolog", "<?xml version=\"1.0\"?>\n<!-- c -->\n<!DOCTYPE x SYSTEM \"x.dtd\"><x/>",
                    "XML with DTD detected"},
        RefusedCase{"doctype_internal_subset", "<!DOCTYPE x [<!ENTITY e \"boom\">]><x>&e;</x>",
                    "XML with DTD detected"},
        RefusedCase{"html_entity", "<p>caf&eacute;</p>", "undefined entity"},
        RefusedCase{"unclosed", "<a><b></a>", "mismatched tag"},
        RefusedCase{"empty", "", "no element found"},
        RefusedCase{"two_roots", "<a/><b/>", "junk after document element"},
        RefusedCase{"unbound_prefix", "<x:a/>", "unbound prefix"}),
    [](const auto& info) { return info.param.name; });

TEST(XmlTree, NamespacesAndAttributes) {
    auto doc = parse_xml(
        "<r xmlns='urn:a' xmlns:p='urn:p'><p:e plain='1' p:q='2' xml:lang='en'/></r>");
    ASSERT_TRUE(doc.has_value()) << doc.error().message();
    XmlNode root = doc->root_element();
    EXPECT_EQ(root.local_name(), "r");
    EXPECT_EQ(root.namespace_uri(), "urn:a");
    XmlNode e = root.first_child();
    EXPECT_EQ(e.local_name(), "e");
    EXPECT_EQ(e.namespace_uri(), "urn:p");
    ASSERT_EQ(e.attributes().size(), 3u);
    EXPECT_EQ(e.attributes()[1].namespace_uri, "urn:p");
    EXPECT_EQ(e.attributes()[1].local_name, "q");
    EXPECT_EQ(e.attributes()[2].namespace_uri, quirelo::XML_NAMESPACE_URI);
    // A plain-name lookup sees only attributes without a namespace.
    EXPECT_EQ(e.attribute("plain"), "1");
    EXPECT_FALSE(e.attribute("q").has_value());
}

TEST(XmlTree, EntitiesCdataAndCharacterReferencesMergeIntoOneText) {
    auto doc = parse_xml("<t>a &amp; b<![CDATA[ <c> ]]>&#233;&#x41;</t>");
    ASSERT_TRUE(doc.has_value()) << doc.error().message();
    XmlNode t = doc->root_element();
    EXPECT_EQ(child_text(t), "a & b <c> \xC3\xA9" "A");
    EXPECT_FALSE(t.first_child().next_sibling());
}

TEST(XmlTree, InvalidUtf8IsRepairedAndDeclaredEncodingIgnored) {
    auto doc = parse_xml("<?xml version='1.0' encoding='ISO-8859-1'?><t>caf\xC3\xA9 \xFF!</t>");
    ASSERT_TRUE(doc.has_value()) << doc.error().message();
    EXPECT_EQ(child_text(doc->root_element()), "caf\xC3\xA9 \xEF\xBF\xBD!");
}

TEST(XmlTree, ByteOrderMarkAccepted) {
    auto doc = parse_xml("\xEF\xBB\xBF<t>x</t>");
    ASSERT_TRUE(doc.has_value()) << doc.error().message();
    EXPECT_EQ(child_text(doc->root_element()), "x");
}

TEST(XmlTree, TextHelpers) {
    auto doc = parse_xml(
        "<r>"
        "<a><!--c-->hello </a>"
        "<b><i>x</i>tail</b>"
        "<c><i>only</i></c>"
        "<d>\n  Part <em>one</em>\n<span>two</span>  \n</d>"
        "<e/>"
        "<f><?pi data?>after</f>"
        "</r>");
    ASSERT_TRUE(doc.has_value()) << doc.error().message();
    XmlNode root = doc->root_element();
    XmlNode a = root.first_child_named("a");
    EXPECT_EQ(first_text(a), "hello ");  // comment skipped, spaces kept
    EXPECT_EQ(child_text(a), "");         // comment first
    XmlNode b = root.first_child_named("b");
    EXPECT_EQ(first_text(b), "tail");
    EXPECT_EQ(child_text(b), "");
    EXPECT_EQ(first_text(root.first_child_named("c")), "");
    EXPECT_EQ(all_text(root.first_child_named("d")), "Part one\ntwo");
    EXPECT_EQ(all_text(root.first_child_named("e")), "");
    EXPECT_EQ(child_text(root.first_child_named("f")), "");
    EXPECT_EQ(first_text(root.first_child_named("f")), "after");
}

TEST(XmlTree, DescendantSearchStaysInsideScope) {
    auto doc = parse_xml("<r><a><x/></a><b/><x id='outside'/></r>");
    ASSERT_TRUE(doc.has_value());
    XmlNode root = doc->root_element();
    EXPECT_TRUE(root.first_child_named("a").first_descendant_named("x"));
    EXPECT_FALSE(root.first_child_named("b").first_descendant_named("x"));
    EXPECT_EQ(root.first_descendant_named("x").parent().local_name(), "a");
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

TEST(XmlTree, ManyAttributesAndSiblings) {
    constexpr int COUNT = 200'000;
    std::string xml = "<r";
    for (int i = 0; i < COUNT; ++i) xml += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
    xml += ">";
    for (int i = 0; i < COUNT; ++i) xml += "<i/>";
    xml += "</r>";
    auto doc = parse_xml(xml);
    ASSERT_TRUE(doc.has_value()) << doc.error().message();
    XmlNode root = doc->root_element();
    EXPECT_EQ(root.attributes().size(), static_cast<std::size_t>(COUNT));
    EXPECT_EQ(root.attribute("a199999"), "199999");
    int children = 0;
    for (XmlNode child = root.first_child_named("i"); child; child = child.next_sibling_named("i")) ++children;
    EXPECT_EQ(children, COUNT);
}

}  // namespace
