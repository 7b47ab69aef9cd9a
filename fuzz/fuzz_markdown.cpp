// Markdown conversion on arbitrary bytes, as one document and as a book's chapter: never
// crashes, gives valid UTF-8, and leaves no blank before a line end or at either end.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "markdown/markdown.hpp"
#include "model/book.hpp"
#include "text/utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string markdown = quirelo::html_to_markdown(quirelo::decode_utf8_lossy(bytes));
    if (!quirelo::is_valid_utf8(markdown)) __builtin_trap();
    if (markdown.find(" \n") != std::string::npos) __builtin_trap();
    if (!markdown.empty()) {
        const char first = markdown.front(), last = markdown.back();
        if (first == ' ' || first == '\n' || last == ' ' || last == '\n') __builtin_trap();
    }

    quirelo::Book book = quirelo::book_new();
    quirelo::add_item(book, std::make_shared<const quirelo::Item>("c", "c.xhtml", "application/xhtml+xml",
                                                                   std::string(bytes), quirelo::ITEM_DOCUMENT));
    const std::pair<std::string, bool> spine[] = {{"c", true}, {"c", false}};
    quirelo::set_spine(book, spine);
    const std::string whole = quirelo::to_markdown(book);
    constexpr std::string_view HEADER = "# Untitled\n\n**Unknown**\n\n---\n\n";
    const std::string expected =
        markdown.empty() ? std::string(HEADER) : std::string(HEADER) + markdown + "\n\n---\n\n" + markdown;
    if (whole != expected) __builtin_trap();
    return 0;
}
