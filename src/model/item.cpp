#include "model/item.hpp"

#include "model/epub_vocabulary.hpp"

namespace quirelo {

const std::string& load_content(const Item& item) {
    return item.content.get_or_load([&item]() -> std::string {
        if (!item.lazy_source || item.lazy_source->loader == nullptr) return {};
        return item.lazy_source->loader(*item.lazy_source);
    });
}

bool is_xhtml_navigation(const Item& item) {
    return item.item_type == ITEM_NAVIGATION && item.media_type == XHTML_MEDIA_TYPE;
}

}  // namespace quirelo
