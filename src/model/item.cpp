#include "model/item.hpp"

namespace quirelo {

const std::string& load_content(const Item& item) {
    return item.content.get_or_load([&item]() -> std::string {
        if (!item.lazy_source || item.lazy_source->loader == nullptr) return {};
        return item.lazy_source->loader(*item.lazy_source);
    });
}

}  // namespace quirelo
