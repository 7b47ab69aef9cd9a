#include <gtest/gtest.h>

#include "model/book.hpp"

TEST(Model, NewBookIsEmpty) {
    auto book = quirelo::book_new();
    EXPECT_TRUE(book.items.empty());
    EXPECT_EQ(book.version, "3.0");
}
