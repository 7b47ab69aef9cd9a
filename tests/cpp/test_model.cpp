#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "model/book.hpp"
#include "model/validate.hpp"
#include "test_support.hpp"

namespace quirelo {
namespace {

constexpr auto attributes_of = testing::attributes;

TEST(Model, ClassifyItemType) {
    // Properties null when absent; "unavailable" holds "nav" as a substring, not a token.
    const std::tuple<const char*, const char*, int> cases[] = {
        {"application/xhtml+xml", "cover-image nav", 10}, {"application/xhtml+xml", "unavailable", 4},
        {"application/xhtml+xml", "", 9}, {"image/svg+xml", nullptr, 5}, {"image/png", nullptr, 1},
        {"IMAGE/PNG", nullptr, 0}, {"font/otf", nullptr, 6}, {"application/vnd.ms-opentype", nullptr, 6},
        {"application/x-dtbncx+xml", nullptr, 4}, {"text/css", nullptr, 2}, {"text/html", nullptr, 9},
        {"application/ecmascript", nullptr, 3}, {"video/mp4", nullptr, 7}, {"audio/mpeg", nullptr, 8},
        {"application/smil+xml", nullptr, 11}, {"", nullptr, 0}};
    for (const auto& [media_type, properties, expected] : cases) {
        const auto given = properties ? std::optional<std::string_view>(properties) : std::nullopt;
        EXPECT_EQ(classify_item_type(media_type, given), expected)
            << media_type << " / " << (properties ? properties : "-");
    }
}

TEST(Model, AddItemRawStoresAKnownCodeAndHonoursProperties) {
    const std::tuple<int, const char*, int> cases[] = {{12, nullptr, 0},      {11, nullptr, 11},      {1, "nav", 4},
                                                       {9, "cover-image nav", 4}, {9, "cover-image", 10}, {9, "", 9}};
    for (const auto& [given, raw_properties, expected] : cases) {
        Book book = book_new();
        const auto properties = raw_properties ? std::optional<std::string>(raw_properties) : std::nullopt;
        add_item_raw(book, "a", "a.xhtml", "application/xhtml+xml", "x", static_cast<std::uint8_t>(given), properties);
        EXPECT_EQ(book.items[0]->item_type, expected) << given << " " << (raw_properties ? raw_properties : "-");
        EXPECT_EQ(book.items[0]->properties, properties);
    }
}

// Each cover and each item of a reused id is kept; the indexes name the newest.
TEST(Model, SetCoverGuessesTheMediaTypeFromTheLastExtensionAndDuplicateIdsKeepBoth) {
    Book book = book_new();
    add_item_raw(book, "x", "one.xhtml", "text/html", "1", 9, std::nullopt);
    add_item_raw(book, "x", "two.xhtml", "text/html", "2", 9, std::nullopt);
    const std::pair<const char*, const char*> covers[] = {{"images/Cover.JPG", "image/jpeg"}, {"png", "image/png"},
                                                          {"cover.svg.webp", "image/webp"},
                                                          {"c.\xE2\x84\xAA", "application/octet-stream"}};
    for (const auto& [file_name, media_type] : covers) set_cover(book, file_name, "img");
    ASSERT_EQ(book.items.size(), 6u);
    for (std::size_t i = 0; i < std::size(covers); ++i) {
        const Item& item = *book.items[i + 2];
        EXPECT_EQ(std::tuple(item.media_type, item.item_type, item.id, item.href),
                  std::tuple(covers[i].second, ITEM_COVER, "cover-image", covers[i].first));
    }
    EXPECT_EQ(metadata_values(book, "OPF", "cover"), std::vector<MetadataEntry>(4, MetadataEntry{"cover-image", {}}));
    EXPECT_EQ((*item_with_id(book, "x"))->href, "two.xhtml");
    EXPECT_EQ((*item_with_id(book, "cover-image"))->href, "c.\xE2\x84\xAA");
    EXPECT_EQ((*item_with_href(book, "one.xhtml"))->id, "x");
    EXPECT_EQ(item_with_id(book, "X"), nullptr);
    EXPECT_EQ(items_of_type(book, ITEM_COVER).size(), 4u);
}

TEST(Model, DcValuesReplaceAuthorsAppendEmptyCountsAsPresent) {
    Book book = book_new();
    EXPECT_FALSE(first_dc_value(book, "title"));
    set_dc_value(book, "title", "One");
    set_dc_value(book, "title", "");
    EXPECT_EQ(first_dc_value(book, "title"), "");
    EXPECT_EQ(metadata_values(book, "DC", "title").size(), 1u);
    add_author(book, "A", "a, A", std::nullopt, "u1");
    add_author(book, "B", std::nullopt, "aut", std::nullopt);
    const auto creators = metadata_values(book, "DC", "creator");
    ASSERT_EQ(creators.size(), 2u);
    EXPECT_EQ(creators[0].attributes, attributes_of({{"opf:file-as", "a, A"}, {"id", "u1"}}));
    EXPECT_EQ(creators[1].attributes, attributes_of({{"opf:role", "aut"}}));
    // An empty list under a name is not a value.
    book.metadata.get_or_insert("DC").get_or_insert("language");
    EXPECT_FALSE(first_dc_value(book, "language"));
}

TEST(Toc, MillionLevelsCopyCompareCountAndFreeWithoutRecursion) {
    constexpr std::size_t depth = 1'000'000;
    TocEntry root("t0", "h0");
    TocEntry* tip = &root;
    for (std::size_t level = 1; level < depth; ++level) tip = &tip->children.emplace_back("t", "h");
    root.children.emplace_back("b", "b.xhtml");  // equality compares every child, not the first
    std::vector<TocEntry> toc;
    toc.push_back(std::move(root));
    Book book = book_new();
    set_toc(book, toc);
    EXPECT_EQ(count_toc_entries(book.toc), depth + 1);
    EXPECT_EQ(toc_depth(book.toc), depth);
    EXPECT_TRUE(book.toc == toc);
    book.toc[0].children[1].title = "c";
    EXPECT_FALSE(book.toc == toc);
    book.toc[0].children.pop_back();
    EXPECT_FALSE(book.toc == toc) << "one child fewer";
    book.toc = toc;  // copy-assign over an existing tree
    toc.clear();
    EXPECT_EQ(count_toc_entries(book.toc), depth + 1);
}

TEST(Validate, NewBookHasFiveIssuesInOrderACoverIsNoNavigation) {
    Book book = book_new();
    set_cover(book, "nav.png", "x");
    EXPECT_EQ(validate_book(book),
              (std::vector<std::string>{"Missing required metadata: DC:identifier", "Missing required metadata: DC:title",
                                        "Missing required metadata: DC:language",
                                        "Spine is empty \u2014 at least one content document is required",
                                        "No navigation item (NCX or Nav document) found"}));
}

TEST(Validate, ReportsReferencesAndDuplicates) {
    Book book = book_new();
    set_dc_value(book, "identifier", "id");
    set_dc_value(book, "title", "");
    set_dc_value(book, "language", "en");
    for (const char* href : {"c.xhtml", "C.xhtml", "c.xhtml"})
        add_item_raw(book, "c", href, "application/xhtml+xml", "", 9, std::nullopt);
    add_item_raw(book, "n", "toc.ncx", "application/x-dtbncx+xml", "", 4, std::nullopt);
    const std::pair<std::string, bool> spine[] = {{"c", true}, {"gone", true}, {"gone", false}};
    set_spine(book, spine);
    const std::string gone = "Spine references item 'gone' which is not in the manifest";
    EXPECT_EQ(validate_book(book), (std::vector<std::string>{gone, gone, "Duplicate item ID: 'c'",
                                                             "Duplicate item ID: 'c'", "Duplicate item href: 'c.xhtml'"}));
}

}  // namespace
}  // namespace quirelo
