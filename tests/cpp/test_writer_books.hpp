#pragma once
// Small books for the writer's tests.
#include <chrono>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "model/book.hpp"

namespace writer_test {

using namespace std::chrono_literals;

inline quirelo::AttributeMap attributes(std::initializer_list<std::pair<const char*, const char*>> pairs) {
    quirelo::AttributeMap map;
    for (const auto& [key, value] : pairs) map.insert_or_assign(key, value);
    return map;
}

struct ItemFields {
    std::string id;
    std::string href;
    std::string media_type;
    std::string content;
    quirelo::ItemType type = quirelo::ITEM_DOCUMENT;
    std::optional<std::string> properties = std::nullopt;
};

inline void add(quirelo::Book& book, ItemFields fields) {
    auto item = std::make_shared<quirelo::Item>(std::move(fields.id), std::move(fields.href), std::move(fields.media_type),
                                                std::move(fields.content), fields.type);
    item->properties = std::move(fields.properties);
    quirelo::add_item(book, std::move(item));
}

// Identifier, title, language, one chapter in the spine.
inline quirelo::Book minimal_book(std::string version = "3.0") {
    quirelo::Book book = quirelo::book_new();
    book.version = std::move(version);
    quirelo::set_dc_value(book, "identifier", "urn:x");
    quirelo::set_dc_value(book, "title", "T");
    quirelo::set_dc_value(book, "language", "en");
    add(book, {"ch1", "ch1.xhtml", "application/xhtml+xml", "<html/>"});
    book.spine.push_back({"ch1", std::nullopt, true});
    return book;
}

// 2024-02-29T13:05:09.700Z: a leap day, with a fraction that must be dropped.
inline std::chrono::system_clock::time_point fixed_time() {
    using namespace std::chrono;
    return sys_days{2024y / February / 29} + 13h + 5min + 9s + 700ms;
}

}  // namespace writer_test
