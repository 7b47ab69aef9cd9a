#pragma once
// The two Markdown flavours of a book: the exact one (EpubBook.to_markdown, fixed to the
// byte) and the structured one (GitHub Flavored Markdown).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/book.hpp"

namespace quirelo {

enum class MarkdownFlavor : std::uint8_t { Exact, Gfm };

// "exact" or "gfm"; nothing for any other name.
std::optional<MarkdownFlavor> markdown_flavor_named(std::string_view name);

// The whole book in that flavour: to_markdown or to_gfm.
std::string book_markdown(const Book& book, MarkdownFlavor flavor);

}  // namespace quirelo
