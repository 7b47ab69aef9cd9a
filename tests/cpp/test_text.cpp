#include <gtest/gtest.h>

#include <string>

#include "text/unicode_properties.hpp"
#include "text/utf8.hpp"
#include "text/xml_escape.hpp"

namespace quirelo {
namespace {

struct DecodeCase {
    std::string input;
    std::string expected;  // as Python's bytes.decode("utf-8", "replace") gives it
};

const std::string FFFD = "\xEF\xBF\xBD";

class LossyUtf8 : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(LossyUtf8, MatchesPythonReplacement) {
    EXPECT_EQ(decode_utf8_lossy(GetParam().input), GetParam().expected);
    EXPECT_EQ(is_valid_utf8(GetParam().input), GetParam().input == GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LossyUtf8,
    ::testing::Values(DecodeCase{"plain ascii text, long enough for blocks", "plain ascii text, long enough for blocks"},
                      DecodeCase{"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"}, DecodeCase{FFFD, FFFD},
                      DecodeCase{"a\x80" "b", "a" + FFFD + "b"},
                      DecodeCase{"\xE0\x80", FFFD + FFFD},            // bad second byte: two subparts
                      DecodeCase{"\xE2\x82", FFFD},                    // truncated valid prefix: one
                      DecodeCase{"\xE2\x82" "A", FFFD + "A"},
                      DecodeCase{"\xED\xA0\x80", FFFD + FFFD + FFFD},  // surrogate
                      DecodeCase{"\xF4\x90\x80\x80", FFFD + FFFD + FFFD + FFFD},  // past U+10FFFF
                      DecodeCase{"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
                      DecodeCase{"\xF0\x9F\x98", FFFD}, DecodeCase{"\xC0\xAF", FFFD + FFFD},
                      DecodeCase{"\xFF", FFFD}, DecodeCase{std::string("a\0b", 3), std::string("a\0b", 3)}));

TEST(WhiteSpace, PropertyAndTrim) {
    for (char32_t c : {U'\t', U'\n', U'\v', U'\f', U'\r', U' ', U'\u0085', U'\u00A0', U'\u1680', U'\u2000',
                       U'\u200A', U'\u2028', U'\u2029', U'\u202F', U'\u205F', U'\u3000'}) {
        EXPECT_TRUE(is_white_space(c)) << static_cast<unsigned>(c);
    }
    for (char32_t c : {U'a', U'\u200B', U'\uFEFF', U'\u180E', U'\0'}) {
        EXPECT_FALSE(is_white_space(c)) << static_cast<unsigned>(c);
    }
    EXPECT_EQ(trim_white_space("\xE3\x80\x80 a b\xC2\xA0\n"), "a b");
    EXPECT_EQ(trim_white_space(" \xC2"), "\xC2");  // a broken character is not white space
    EXPECT_EQ(trim_white_space("\xC2\x85"), "");
    EXPECT_EQ(trim_white_space(""), "");
}

TEST(UnicodeProperties, AlphabeticAndNumeric) {
    EXPECT_TRUE(is_alphabetic(U'\u00E9'));
    EXPECT_TRUE(is_alphabetic(U'\u4E2D'));
    EXPECT_TRUE(is_alphabetic(U'\u0345'));  // Other_Alphabetic
    EXPECT_FALSE(is_alphabetic(U'-'));
    EXPECT_TRUE(is_numeric(U'\u0663'));     // Nd
    EXPECT_TRUE(is_numeric(U'\u2163'));     // Nl
    EXPECT_TRUE(is_numeric(U'\u00BD'));     // No
    EXPECT_FALSE(is_numeric(U'x'));
}

TEST(EscapeXml, FiveEntitiesOnly) {
    std::string out = "<";
    escape_xml(out, "a&b<c>d\"e'f\x01\xC3\xA9");
    EXPECT_EQ(out, "<a&amp;b&lt;c&gt;d&quot;e&apos;f\x01\xC3\xA9");
}

}  // namespace
}  // namespace quirelo
