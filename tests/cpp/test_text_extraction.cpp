#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "markdown/text_extraction.hpp"
#include "text/utf8.hpp"

namespace {

using quirelo::extract_text;

struct TextCase {
    const char* name;
    std::string_view input;
    std::string_view expected;
};

constexpr TextCase TEXT_CASES[] = {
    {"adjacent blocks run together", "<p>a</p><p>b</p>", "ab"},
    {"source line break becomes a blank", "<p>a</p>\n<p>b</p>", "a b"},
    {"head, style and entities kept",
     "<html><head><title>T</title><style>p{}</style></head><body><p>&amp; x</p></body></html>", "Tp{}&amp; x"},
    {"nbsp entity not decoded", "a&nbsp;b", "a&nbsp;b"},
    {"comment ends at its first >", "<!-- a > b --><p>t</p>", "b --t"},
    {"declarations are tags", "<?xml version=\"1.0\"?><!DOCTYPE html>\n<p>x</p>", "x"},
    {"stray > disappears", "a > b", "a b"},
    {"unclosed < drops the rest", "x < y", "x"},
    {"< up to next > dropped", "x < y > z", "x z"},
    {"empty", "", ""},
    {"markup only", "<p></p><br/>", ""},
    {"white space only", " \n\t\r\f\v ", ""},
    {"run across tags is one blank", "a <b> </b>\n c", "a c"},
    {"ends trimmed", "\n  <p> a </p>  \n", "a"},
    {"unicode white space collapses", "a\u00a0\u2003\u3000b\u0085c\u2028d\u202f\u205fe", "a b c d e"},
    {"unicode white space trimmed", "\u3000\u1680a\u2029", "a"},
    {"non-white-space unicode kept", "caf\u00e9 \u200bx", "caf\u00e9 \u200bx"},
    {"invalid byte replaced", "a\xff" "b", "a\ufffd" "b"},
    {"truncated sequence replaced", "a\xe2\x80", "a\ufffd"},
    {"surrogate encoding replaced per byte", "\xed\xa0\x80", "\ufffd\ufffd\ufffd"},
    {"invalid bytes inside tags dropped", "<p \xff>x", "x"},
    {"literal replacement character kept", "\ufffd", "\ufffd"},
    // Prose is copied in blocks of eight bytes; White_Space at every offset of a block.
    {"double blank inside a block", "abcdefg  hijklmno", "abcdefg hijklmno"},
    {"blank ending a block", "abcdefg hijklmnop  q", "abcdefg hijklmnop q"},
    {"tab inside a block", "abc\tdefghijklmnop", "abc defghijklmnop"},
    {"tag inside a block", "abcd<i>efghijklmnop", "abcdefghijklmnop"},
    {"wide white space after a block", "abcdefgh\u3000ijklmnop", "abcdefgh ijklmnop"},
    {"invalid byte after a block", "abcdefgh\x80ijklmnop", "abcdefgh\ufffdijklmnop"},
};

TEST(TextExtraction, StripsTagsAndCollapsesWhiteSpace) {
    for (const auto& test : TEXT_CASES) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(extract_text(test.input), test.expected);
    }
}

// The properties any output must have, over inputs built to stress the collapser.
TEST(TextExtraction, OutputIsTrimmedCollapsedValidText) {
    const std::string_view pieces[] = {" ", "\n", "<", ">", "a", "\u3000", "\xff", "<p>", "\u00a0", "b c"};
    std::string input;
    for (unsigned seed = 1; seed < 4000; ++seed) {
        input.clear();
        for (unsigned state = seed; state != 0; state /= 10) input.append(pieces[state % 10]);
        const std::string text = extract_text(input);
        ASSERT_TRUE(quirelo::is_valid_utf8(text)) << input;
        ASSERT_EQ(text.find("  "), std::string::npos) << input;
        ASSERT_EQ(text.find_first_of("\n\t<>"), std::string::npos) << input;
        if (!text.empty()) {
            ASSERT_NE(text.front(), ' ') << input;
            ASSERT_NE(text.back(), ' ') << input;
        }
    }
}

std::string load_marker_text(const quirelo::LazySource&) { return "<p>lazy</p>"; }

TEST(TextExtraction, OnlyDocumentsAndNavigationHaveText) {
    using quirelo::Item;
    using quirelo::ItemType;
    for (int code = 0; code <= quirelo::ITEM_TYPE_MAX; ++code) {
        SCOPED_TRACE(code);
        const Item item("id", "x.xhtml", "application/xhtml+xml", std::string("<p> x </p>"),
                        static_cast<ItemType>(code));
        const auto text = quirelo::get_text(item);
        if (code == quirelo::ITEM_DOCUMENT || code == quirelo::ITEM_NAVIGATION) {
            EXPECT_EQ(text, "x");
        } else {
            EXPECT_FALSE(text.has_value());
        }
    }
}

TEST(TextExtraction, LazyContentIsLoadedOnlyForTextTypes) {
    using quirelo::Item;
    quirelo::LazySource source{"x.xhtml", nullptr, &load_marker_text};
    const Item image("i", "i.png", "image/png", source, quirelo::ITEM_IMAGE);
    EXPECT_FALSE(quirelo::get_text(image).has_value());
    EXPECT_FALSE(image.content.is_set());

    const Item document("d", "d.xhtml", "application/xhtml+xml", source, quirelo::ITEM_DOCUMENT);
    EXPECT_EQ(quirelo::get_text(document), "lazy");
    EXPECT_TRUE(document.content.is_set());
}

}  // namespace
