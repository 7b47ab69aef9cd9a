// Whole-book reading from arbitrary bytes, eager and lazy, touching every item's content.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/book.hpp"
#include "reader/read_epub.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const bool lazy : {false, true}) {
        auto book = quirelo::read_epub_bytes(bytes, {.lazy = lazy});
        if (!book) continue;
        for (const auto& item : book->items) (void)quirelo::load_content(*item);
    }
    return 0;
}
