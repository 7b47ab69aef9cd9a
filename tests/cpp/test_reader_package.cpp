#include <gtest/gtest.h>

#include "reader/container.hpp"
#include "reader/package_document.hpp"
#include "reader/refinements.hpp"
#include "reader_test_archive.hpp"

using namespace quirelo;
using quirelo::testing::package_xml;

namespace {

constexpr const char* CONTAINER_NS = "urn:oasis:names:tc:opendocument:xmlns:container";

struct ContainerCase {
    const char* name;
    std::string xml;
    std::string expected;  // opf path, or the whole error message
    bool ok;
};

class ReaderContainer : public ::testing::TestWithParam<ContainerCase> {};

TEST_P(ReaderContainer, Parses) {
    const auto& param = GetParam();
    auto result = parse_container(param.xml);
    if (param.ok) {
        ASSERT_TRUE(result.has_value()) << result.error().message();
        EXPECT_EQ(*result, param.expected);
    } else {
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().message().substr(0, param.expected.size()), param.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReaderContainer,
    ::testing::Values(
        ContainerCase{"plain", quirelo::testing::container_xml("OEBPS/content.opf"), "OEBPS/content.opf", true},
        ContainerCase{"second_rootfile_has_path",
                      std::string("<container xmlns='") + CONTAINER_NS +
                          "'><rootfiles><rootfile/><rootfile full-path='b.opf'/></rootfiles></container>",
                      "b.opf", true},
        ContainerCase{"empty_path_kept",
                      std::string("<c xmlns='") + CONTAINER_NS + "'><rootfile full-path=''/></c>", "", true},
        ContainerCase{"leading_slash_kept",
                      std::string("<c xmlns='") + CONTAINER_NS + "'><rootfile full-path='/x.opf'/></c>", "/x.opf",
                      true},
        ContainerCase{"no_namespace", "<container><rootfiles><rootfile full-path='a.opf'/></rootfiles></container>",
                      "No rootfile found in container.xml", false},
        ContainerCase{"no_rootfile", std::string("<container xmlns='") + CONTAINER_NS + "'/>",
                      "No rootfile found in container.xml", false},
        ContainerCase{"malformed", "<container>", "XML parsing error: ", false},
        ContainerCase{"doctype", "<!DOCTYPE container><container/>", "XML parsing error: XML with DTD detected",
                      false}),
    [](const auto& info) { return info.param.name; });

const MetadataEntry& only_entry(const PackageDocument& package, std::string_view group, std::string_view name) {
    const auto* names = package.metadata.find(group);
    EXPECT_NE(names, nullptr);
    const auto* list = names->find(name);
    EXPECT_NE(list, nullptr);
    EXPECT_EQ(list->size(), 1u);
    return list->front();
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
    const auto* titles = package->metadata.find("DC")->find("title");
    ASSERT_EQ(titles->size(), 2u);
    EXPECT_EQ((*titles)[0].value, " Spaced ");
    EXPECT_EQ((*titles)[1].value, "Second");
    const auto& creator = only_entry(*package, "DC", "creator");
    EXPECT_EQ(creator.value, "Ann");
    EXPECT_EQ(*creator.attributes.find("opf:role"), "aut");
    EXPECT_EQ(*creator.attributes.find("xml:lang"), "fr");
    EXPECT_EQ(*creator.attributes.find("ns:x"), "y");
    EXPECT_EQ(*creator.attributes.find("id"), "c1");
    EXPECT_EQ(only_entry(*package, "DC", "subject").value, "Sub");
    EXPECT_EQ(only_entry(*package, "DC", "description").value, "");
    EXPECT_EQ(only_entry(*package, "OPF", "dcterms:modified").value, "2020");
    EXPECT_EQ(only_entry(*package, "OPF", "p").value, "text");
    const auto& cover = only_entry(*package, "OPF", "cover");
    EXPECT_EQ(cover.value, "img");
    EXPECT_EQ(*cover.attributes.find("name"), "cover");
    EXPECT_EQ(package->metadata.find("OPF")->size(), 3u);  // lonely meta and link dropped
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
    EXPECT_EQ(first.id, "a");
    EXPECT_EQ(first.href, "a2.xhtml");
    EXPECT_EQ(first.media_type, "text/html");
    EXPECT_FALSE(first.properties.has_value());
    const auto* b = package->manifest.find("b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->media_type, "");
    EXPECT_EQ(package->spine_toc, "ncx");
    ASSERT_EQ(package->spine.size(), 4u);
    EXPECT_TRUE(package->spine[0].linear);
    EXPECT_FALSE(package->spine[1].linear);
    EXPECT_EQ(package->spine[1].properties, "page-spread-left");
    EXPECT_TRUE(package->spine[2].linear);
    EXPECT_EQ(package->spine[3].idref, "ghost");
    EXPECT_TRUE(package->spine[3].linear);
}

TEST(ReaderPackage, RootOfAnyNameAndMissingSections) {
    auto package = parse_package("<book version='2.0'><manifest/><spine/><manifest><item id='x' href='x'/></manifest></book>");
    ASSERT_TRUE(package.has_value());
    EXPECT_EQ(package->version, "2.0");
    EXPECT_TRUE(package->manifest.empty());  // only the first manifest counts
    EXPECT_TRUE(package->metadata.empty());
    EXPECT_FALSE(package->spine_toc.has_value());

    auto bare = parse_package("<package/>");
    ASSERT_TRUE(bare.has_value());
    EXPECT_EQ(bare->version, "3.0");
}

TEST(ReaderPackage, FailuresAreInvalidOpf) {
    auto doctype = parse_package("<?xml version='1.0'?><!DOCTYPE package><package/>");
    ASSERT_FALSE(doctype.has_value());
    EXPECT_EQ(doctype.error().message(), "Invalid OPF: XML with DTD detected");
    auto broken = parse_package("<package><metadata></package>");
    ASSERT_FALSE(broken.has_value());
    EXPECT_EQ(broken.error().kind, ErrorKind::InvalidOpf);
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
    const auto& creator = only_entry(*package, "DC", "creator");
    EXPECT_EQ(*creator.attributes.find("opf:file-as"), "Ann, A");
    const auto& contributor = only_entry(*package, "DC", "contributor");
    EXPECT_EQ(*contributor.attributes.find("opf:role"), "trl");  // the later refinement wins
    const auto* opf = package->metadata.find("OPF");
    EXPECT_EQ(opf->find("role"), nullptr);
    ASSERT_NE(opf->find("file-as"), nullptr);  // the unknown target stays
    EXPECT_EQ(opf->find("file-as")->size(), 1u);
    EXPECT_EQ(opf->find("file-as")->front().value, "X");
    EXPECT_NE(opf->find("alternate-script"), nullptr);
    EXPECT_NE(opf->find("dcterms:modified"), nullptr);
}

TEST(ReaderRefinements, NothingWithoutBothGroups) {
    MetadataStore store;
    auto& opf = store.get_or_insert("OPF");
    AttributeMap attributes;
    attributes.insert_or_assign("refines", "#a");
    attributes.insert_or_assign("property", "role");
    opf.get_or_insert("role").push_back({"aut", attributes});
    const MetadataStore before = store;
    fold_refinements(store);
    EXPECT_EQ(store, before);
}

}  // namespace
