#pragma once
// One EPUB publication in memory, and the model operations on it.
//
// Contract, for every function below:
// - A Book owns its vectors, indexes and metadata; items are shared records (ItemHandle)
//   that a book, Python wrappers and work in progress hold together.
// - None of these operations fails or throws on any input (only an exhausted allocator
//   throws std::bad_alloc): duplicate ids and hrefs are accepted, the indexes then point
//   to the newest item.
// - A Book is not synchronised: any number of threads may call the const functions at
//   once, but a mutating one needs the book to itself. Items may be shared across
//   threads freely (see model/item.hpp).
// - A pointer or view returned into the book (item_with_id, item_with_href,
//   metadata_list, first_dc_value) stays valid until the next mutating call on the
//   same book, or its destruction: add_item may move `items`, set_dc_value replaces the
//   value viewed. Copy the ItemHandle to keep an item beyond that.
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

// The indexes map an id or href to a position in `items`; every position they hold is
// smaller than items.size(). Change `items` only through add_item.
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

// An empty book: no items, empty spine and toc, version "3.0".
Book book_new();
// A complete book, indexed as if every item were added with add_item, in order.
Book book_from_parts(std::string version, MetadataStore metadata, std::vector<ItemHandle> items,
                     std::vector<SpineEntry> spine, std::vector<TocEntry> toc);

// Appends the item and points both indexes at it. The one way an item enters a book.
void add_item(Book& book, ItemHandle item);
// The indexed item (exact, case-sensitive), or null; valid until the next add_item.
const ItemHandle* item_with_id(const Book& book, std::string_view id);
const ItemHandle* item_with_href(const Book& book, std::string_view href);
// New handles (not copies of the bytes) to the items of that code, in item order.
std::vector<ItemHandle> items_of_type(const Book& book, std::uint8_t code);

// Builds an item from the caller's values and adds it. Codes outside 1..11 become 0;
// properties marking "nav" or "cover-image" override the code, navigation first.
void add_item_raw(Book& book, std::string id, std::string href, std::string media_type, std::string content,
                  std::uint8_t item_type, std::optional<std::string> properties);
// Adds the item "cover-image" (media type from set_cover's fixed table, code 10) and an
// "OPF"/"cover" metadata entry; a second call adds a second pair, replacing nothing.
void set_cover(Book& book, std::string file_name, std::string content);

// Appends an entry under (namespace, name), creating either when absent.
void append_metadata(Book& book, std::string_view name_space, std::string_view name, std::string value,
                     AttributeMap attributes);
// Replaces every entry under ("DC", name) with one holding value and no attributes.
void set_dc_value(Book& book, std::string_view name, std::string value);
void add_author(Book& book, std::string name, std::optional<std::string> file_as, std::optional<std::string> role,
                std::optional<std::string> uid);
// A copy of the entries under (namespace, name); empty when absent.
std::vector<MetadataEntry> metadata_values(const Book& book, std::string_view name_space, std::string_view name);
// The entries themselves, or null when absent; valid until the next mutating call.
const std::vector<MetadataEntry>* metadata_list(const Book& book, std::string_view name_space,
                                                std::string_view name);
// The first ("DC", name) value (an empty text counts), viewing the book's storage.
std::optional<std::string_view> first_dc_value(const Book& book, std::string_view name);

// A spine entry's document: its position in the spine and the item.
struct SpineDocument {
    std::size_t spine_position = 0;
    ItemHandle item;
};
// The documents the Markdown converters take: spine order, every entry whose idref names
// a document item (the last document item with that id, whatever other items share it).
std::vector<SpineDocument> spine_documents(const Book& book);

// Replace the whole toc (deep copy) or spine (properties absent).
void set_toc(Book& book, const std::vector<TocEntry>& entries);
void set_spine(Book& book, std::span<const std::pair<std::string, bool>> pairs);

}  // namespace quirelo
