// Whole-book reading from arbitrary bytes, eager and lazy, touching every item's content.
// Property: both reads give the same book (or the same error), item by item and entry by
// entry, when the lazy items are loaded in item order (the order an eager read keeps them).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "model/book.hpp"
#include "reader/read_epub.hpp"

namespace {

bool same_item(const quirelo::Item& eager, const quirelo::Item& lazy) {
    return eager.id == lazy.id && eager.href == lazy.href && eager.media_type == lazy.media_type &&
           eager.item_type == lazy.item_type && eager.properties == lazy.properties &&
           eager.media_overlay == lazy.media_overlay && eager.fallback == lazy.fallback &&
           eager.obfuscation == lazy.obfuscation && quirelo::load_content(eager) == quirelo::load_content(lazy);
}

bool same_book(const quirelo::Book& eager, const quirelo::Book& lazy) {
    if (eager.items.size() != lazy.items.size()) return false;
    for (std::size_t i = 0; i < eager.items.size(); ++i) {
        if (!same_item(*eager.items[i], *lazy.items[i])) return false;
    }
    return eager.spine == lazy.spine && eager.toc == lazy.toc && eager.version == lazy.version &&
           eager.metadata == lazy.metadata && eager.package_prefix == lazy.package_prefix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto eager = quirelo::read_epub_bytes(bytes, {.lazy = false});
    auto lazy = quirelo::read_epub_bytes(bytes, {.lazy = true});
    if (eager.has_value() != lazy.has_value()) std::abort();
    if (!eager) {
        if (eager.error().message() != lazy.error().message()) std::abort();
        return 0;
    }
    if (!same_book(*eager, *lazy)) std::abort();
    return 0;
}
