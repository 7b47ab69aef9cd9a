#pragma once
// One EPUB publication in memory, and the model operations on it.
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/item.hpp"
#include "model/metadata.hpp"
#include "model/ordered_map.hpp"
#include "model/toc.hpp"

namespace quirelo {

struct SpineEntry {
    std::string idref;
    std::optional<std::string> properties;
    bool linear = true;

    bool operator==(const SpineEntry&) const = default;
};

using PositionIndex = std::unordered_map<std::string, std::size_t, TransparentStringHash, std::equal_to<>>;

struct Book {
    std::vector<ItemHandle> items;
    std::vector<SpineEntry> spine;
    std::vector<TocEntry> toc;
    std::string version = "3.0";
    MetadataStore metadata;
    // The package element's prefix attribute as read: the metadata may use its prefixes.
    std::optional<std::string> package_prefix;
    PositionIndex id_index;
    PositionIndex href_index;
};

Book book_new();
Book book_from_parts(std::string version, MetadataStore metadata, std::vector<ItemHandle> items,
                     std::vector<SpineEntry> spine, std::vector<TocEntry> toc);

void add_item(Book& book, ItemHandle item);
const ItemHandle* item_with_id(const Book& book, std::string_view id);
const ItemHandle* item_with_href(const Book& book, std::string_view href);
std::vector<ItemHandle> items_of_type(const Book& book, std::uint8_t code);

void add_item_raw(Book& book, std::string id, std::string href, std::string media_type, std::string content,
                  std::uint8_t item_type, std::optional<std::string> properties);
void set_cover(Book& book, std::string file_name, std::string content);

void append_metadata(Book& book, std::string_view name_space, std::string_view name, std::string value,
                     AttributeMap attributes);
void set_dc_value(Book& book, std::string_view name, std::string value);
void add_author(Book& book, std::string name, std::optional<std::string> file_as, std::optional<std::string> role,
                std::optional<std::string> uid);
std::vector<MetadataEntry> metadata_values(const Book& book, std::string_view name_space, std::string_view name);
const std::vector<MetadataEntry>* metadata_list(const Book& book, std::string_view name_space,
                                                std::string_view name);
std::optional<std::string_view> first_dc_value(const Book& book, std::string_view name);

void set_toc(Book& book, const std::vector<TocEntry>& entries);
void set_spine(Book& book, std::span<const std::pair<std::string, bool>> pairs);

}  // namespace quirelo
