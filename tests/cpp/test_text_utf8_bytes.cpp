#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "text/utf8_bytes.hpp"
#include "text/unicode_properties.hpp"
#include "text/utf8.hpp"

namespace {

// The byte-level tests must agree with the decoder and the property table everywhere.
TEST(Utf8Bytes, WhiteSpaceAgreesWithThePropertyForEveryCharacter) {
    std::string encoded;
    for (char32_t code = 0x80; code <= 0x10FFFF; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF) continue;
        encoded.clear();
        quirelo::append_code_point(encoded, code);
        const std::size_t length = quirelo::wide_white_space_length(encoded.data(), encoded.size());
        ASSERT_EQ(length != 0, quirelo::is_white_space(code)) << std::hex << static_cast<unsigned>(code);
        if (length != 0) {
            ASSERT_EQ(length, encoded.size());
            ASSERT_TRUE(quirelo::may_start_wide_white_space(static_cast<unsigned char>(encoded[0])));
        }
        ASSERT_EQ(quirelo::utf8_sequence_length(encoded.data(), encoded.size()), encoded.size());
    }
}

TEST(Utf8Bytes, SequenceLengthRejectsWhatTheDecoderReplaces) {
    const std::string_view invalid[] = {
        "\x80",         "\xbf",         "\xc0\x80",         "\xc1\xbf",     "\xc2",         "\xc2\x41",
        "\xe0\x80\x80", "\xe0\x9f\xbf", "\xed\xa0\x80",     "\xed\xbf\xbf", "\xe2\x80",     "\xe2\x28\xa1",
        "\xf0\x8f\xbf\xbf", "\xf4\x90\x80\x80", "\xf5\x80\x80\x80", "\xff", "\xf0\x9f\x98",
    };
    for (const auto bytes : invalid) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        EXPECT_EQ(quirelo::utf8_sequence_length(bytes.data(), bytes.size()), 0u);
        EXPECT_FALSE(quirelo::is_valid_utf8(bytes));
        EXPECT_EQ(quirelo::wide_white_space_length(bytes.data(), bytes.size()), 0u);
    }
    // Cut short by the end of the text, White_Space is not recognised either.
    EXPECT_EQ(quirelo::wide_white_space_length("\xe3\x80\x80", 2), 0u);
    EXPECT_EQ(quirelo::wide_white_space_length("\xc2\xa0", 1), 0u);
}

}  // namespace
