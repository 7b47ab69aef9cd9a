#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "markdown/text_extraction.hpp"
#include "text/unicode_properties.hpp"
#include "text/utf8.hpp"
#include "text/utf8_bytes.hpp"

namespace quirelo {
namespace {

TEST(LossyUtf8, MatchesPythonReplacement) {
    const std::string R = "\xEF\xBF\xBD";
    // As Python's bytes.decode("utf-8", "replace") gives it.
    const std::pair<std::string, std::string> cases[] = {
        {"plain ascii text, long enough for blocks", "plain ascii text, long enough for blocks"},
        {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"}, {R, R}, {"a\x80" "b", "a" + R + "b"}, {"\xC0\xAF", R + R},
        {"\xE0\x80", R + R},                              // bad second byte: two subparts
        {"\xE2\x82" "A", R + "A"},                        // truncated valid prefix: one
        {"\xED\xA0\x80", R + R + R},                      // surrogate
        {"\xF4\x90\x80\x80", R + R + R + R},              // past U+10FFFF
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"}, {"\xF0\x9F\x98", R}, {std::string("a\0b", 3), std::string("a\0b", 3)}};
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(decode_utf8_lossy(input), expected);
        EXPECT_EQ(is_valid_utf8(input), input == expected) << input;
    }
}

TEST(UnicodeProperties, WhiteSpaceTrimAlphabeticAndNumeric) {
    for (char32_t c : {U'\t', U'\v', U'\r', U' ', U'\u0085', U'\u00A0', U'\u1680', U'\u2000', U'\u200A', U'\u2028',
                       U'\u2029', U'\u202F', U'\u205F', U'\u3000'})
        EXPECT_TRUE(is_white_space(c)) << static_cast<unsigned>(c);
    for (char32_t c : {U'a', U'\u200B', U'\uFEFF', U'\u180E', U'\0'}) EXPECT_FALSE(is_white_space(c)) << +c;
    EXPECT_EQ(trim_white_space("\xE3\x80\x80 a b\xC2\xA0\n"), "a b");
    EXPECT_EQ(trim_white_space(" \xC2"), "\xC2");  // a broken character is not white space
    EXPECT_EQ(trim_white_space("\xC2\x85"), "");
    for (char32_t c : {U'z', U'Z', U'\u00E9', U'\u4E2D', U'\u0345' /* Other_Alphabetic */})
        EXPECT_TRUE(is_alphabetic(c)) << +c;
    EXPECT_FALSE(is_alphabetic(U'-'));
    for (char32_t c : {U'\u0663' /* Nd */, U'\u2163' /* Nl */, U'\u00BD' /* No */}) EXPECT_TRUE(is_numeric(c)) << +c;
    EXPECT_FALSE(is_numeric(U'x'));
}

// The byte-level tests must agree with the decoder and the property table everywhere.
TEST(Utf8Bytes, AgreeWithTheDecoderAndThePropertyForEveryCharacter) {
    std::string encoded;
    for (char32_t code = 0x80; code <= 0x10FFFF; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF) continue;
        encoded.clear();
        append_code_point(encoded, code);
        const std::size_t length = wide_white_space_length(encoded.data(), encoded.size());
        ASSERT_EQ(length != 0, is_white_space(code)) << std::hex << static_cast<unsigned>(code);
        if (length != 0) {
            ASSERT_EQ(length, encoded.size());
            ASSERT_TRUE(may_start_wide_white_space(static_cast<unsigned char>(encoded[0])));
        }
        ASSERT_EQ(utf8_sequence_length(encoded.data(), encoded.size()), encoded.size());
    }
    // And none of them takes what the decoder replaces.
    const std::string_view invalid[] = {"\x80",         "\xc1\xbf",         "\xc2",          "\xc2\x41",
                                        "\xe0\x9f\xbf", "\xed\xa0\x80",     "\xe2\x28\xa1",  "\xf0\x8f\xbf\xbf",
                                        "\xf4\x90\x80\x80", "\xf5\x80\x80\x80", "\xff",      "\xf0\x9f\x98"};
    for (const auto bytes : invalid) {
        SCOPED_TRACE(::testing::PrintToString(bytes));
        EXPECT_EQ(utf8_sequence_length(bytes.data(), bytes.size()), 0u);
        EXPECT_FALSE(is_valid_utf8(bytes));
        EXPECT_EQ(wide_white_space_length(bytes.data(), bytes.size()), 0u);
    }
    // Cut short by the end of the text, White_Space is not recognised either.
    EXPECT_EQ(wide_white_space_length("\xe3\x80\x80", 2), 0u);
    EXPECT_EQ(wide_white_space_length("\xc2\xa0", 1), 0u);
}

TEST(TextExtraction, StripsTagsAndCollapsesWhiteSpace) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"<p>a</p><p>b</p>", "ab"},  // adjacent blocks run together
        {"<p>a</p>\n<p>b</p>", "a b"},
        {"<html><head><title>T</title><style>p{}</style></head><body><p>&amp; x</p></body></html>", "Tp{}&amp; x"},
        {"<!-- a > b --><p>t</p>", "b --t"},  // a comment ends at its first >
        {"<?xml version=\"1.0\"?><!DOCTYPE html>\n<p>x</p>", "x"},
        {"a > b", "a b"},
        {"x < y", "x"},  // an unclosed < drops the rest
        {"x < y > z", "x z"},
        {" \n\t\r\f\v <p></p><br/>", ""},
        {"\n  <p> a </p>  \n", "a"},
        {"a\u00a0\u2003\u3000b\u0085c\u2028d\u202f\u205fe", "a b c d e"},
        {"\u3000\u1680a\u2029", "a"},
        {"caf\u00e9 \u200bx\ufffd", "caf\u00e9 \u200bx\ufffd"},
        {"a\xff" "b\xe2\x80", "a\ufffd" "b\ufffd"},
        {"<p \xff>x", "x"},
        // Prose is copied in blocks of eight bytes; White_Space at every offset of a block.
        {"abcdefg  hijklmno", "abcdefg hijklmno"},
        {"abcdefg hijklmnop  q", "abcdefg hijklmnop q"},
        {"abc\tdefghijklmnop", "abc defghijklmnop"},
        {"abcd<i>efghijklmnop", "abcdefghijklmnop"},
        {"abcdefgh\u3000ijklmnop", "abcdefgh ijklmnop"},
        {"abcdefgh\x80ijklmnop", "abcdefgh\ufffdijklmnop"},
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(extract_text(input), expected) << input;
}

std::string load_marker_text(const LazySource&) { return "<p>lazy</p>"; }

TEST(TextExtraction, OnlyDocumentsAndNavigationHaveTextAndLoadIt) {
    for (int code = 0; code <= ITEM_TYPE_MAX; ++code) {
        const Item item("id", "x.xhtml", "application/xhtml+xml", std::string("<p> x </p>"), static_cast<ItemType>(code));
        const bool has_text = code == ITEM_DOCUMENT || code == ITEM_NAVIGATION;
        EXPECT_EQ(get_text(item), has_text ? std::optional<std::string>("x") : std::nullopt) << code;
    }
    const LazySource source{"x.xhtml", nullptr, &load_marker_text};
    const Item image("i", "i.png", "image/png", source, ITEM_IMAGE);
    EXPECT_FALSE(get_text(image).has_value());
    EXPECT_FALSE(image.content.is_set());
    const Item document("d", "d.xhtml", "application/xhtml+xml", source, ITEM_DOCUMENT);
    EXPECT_EQ(get_text(document), "lazy");
}

}  // namespace
}  // namespace quirelo
