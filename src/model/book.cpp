#include "model/book.hpp"

#include <memory>
#include <unordered_map>

namespace quirelo {

Book book_new() { return Book{}; }

Book book_from_parts(std::string version, MetadataStore metadata, std::vector<ItemHandle> items,
                     std::vector<SpineEntry> spine, std::vector<TocEntry> toc) {
    Book book;
    book.version = std::move(version);
    book.metadata = std::move(metadata);
    book.spine = std::move(spine);
    book.toc = std::move(toc);
    book.items.reserve(items.size());
    book.id_index.reserve(items.size());
    book.href_index.reserve(items.size());
    for (auto& item : items) add_item(book, std::move(item));
    return book;
}

void add_item(Book& book, ItemHandle item) {
    const std::size_t position = book.items.size();
    book.id_index.insert_or_assign(item->id, position);
    book.href_index.insert_or_assign(item->href, position);
    book.items.push_back(std::move(item));
}

namespace {
const ItemHandle* indexed(const Book& book, const PositionIndex& index, std::string_view key) {
    auto found = index.find(key);
    if (found == index.end() || found->second >= book.items.size()) return nullptr;
    return &book.items[found->second];
}
}  // namespace

const ItemHandle* item_with_id(const Book& book, std::string_view id) { return indexed(book, book.id_index, id); }

const ItemHandle* item_with_href(const Book& book, std::string_view href) {
    return indexed(book, book.href_index, href);
}

std::vector<ItemHandle> items_of_type(const Book& book, std::uint8_t code) {
    std::vector<ItemHandle> found;
    for (const auto& item : book.items) {
        if (item->item_type == code) found.push_back(item);
    }
    return found;
}

void add_item_raw(Book& book, std::string id, std::string href, std::string media_type, std::string content,
                  std::uint8_t item_type, std::optional<std::string> properties) {
    ItemType code = item_type >= 1 && item_type <= ITEM_TYPE_MAX ? static_cast<ItemType>(item_type) : ITEM_OTHER;
    if (properties) code = item_type_marked_by(*properties, MarkOrder::NAVIGATION_FIRST).value_or(code);
    auto item = std::make_shared<Item>(std::move(id), std::move(href), std::move(media_type), std::move(content), code);
    item->properties = std::move(properties);
    add_item(book, std::move(item));
}

void set_cover(Book& book, std::string file_name, std::string content) {
    std::string media_type(media_type_for_file_name(file_name, MediaTypeTable::COVER));
    add_item(book, std::make_shared<Item>("cover-image", std::move(file_name), std::move(media_type),
                                          std::move(content), ITEM_COVER));
    append_metadata(book, OPF_NAMESPACE, "cover", "cover-image", {});
}

void append_metadata(Book& book, std::string_view name_space, std::string_view name, std::string value,
                     AttributeMap attributes) {
    book.metadata.get_or_insert(name_space)
        .get_or_insert(name)
        .push_back(MetadataEntry{std::move(value), std::move(attributes)});
}

void set_dc_value(Book& book, std::string_view name, std::string value) {
    auto& entries = book.metadata.get_or_insert(DC_NAMESPACE).get_or_insert(name);
    entries.clear();
    entries.push_back(MetadataEntry{std::move(value), {}});
}

void add_author(Book& book, std::string name, std::optional<std::string> file_as, std::optional<std::string> role,
                std::optional<std::string> uid) {
    AttributeMap attributes;
    if (file_as) attributes.insert_or_assign("opf:file-as", std::move(*file_as));
    if (role) attributes.insert_or_assign("opf:role", std::move(*role));
    if (uid) attributes.insert_or_assign("id", std::move(*uid));
    append_metadata(book, DC_NAMESPACE, "creator", std::move(name), std::move(attributes));
}

const std::vector<MetadataEntry>* metadata_list(const Book& book, std::string_view name_space,
                                                std::string_view name) {
    const auto* names = book.metadata.find(name_space);
    return names == nullptr ? nullptr : names->find(name);
}

std::vector<MetadataEntry> metadata_values(const Book& book, std::string_view name_space, std::string_view name) {
    const auto* entries = metadata_list(book, name_space, name);
    return entries == nullptr ? std::vector<MetadataEntry>{} : *entries;
}

std::optional<std::string_view> first_dc_value(const Book& book, std::string_view name) {
    const auto* entries = metadata_list(book, DC_NAMESPACE, name);
    if (entries == nullptr || entries->empty()) return std::nullopt;
    return std::string_view(entries->front().value);
}

void set_toc(Book& book, const std::vector<TocEntry>& entries) { book.toc = entries; }

void set_spine(Book& book, std::span<const std::pair<std::string, bool>> pairs) {
    std::vector<SpineEntry> spine;
    spine.reserve(pairs.size());
    for (const auto& [idref, linear] : pairs) spine.push_back(SpineEntry{idref, std::nullopt, linear});
    book.spine = std::move(spine);
}

std::vector<SpineDocument> spine_documents(const Book& book) {
    std::unordered_map<std::string_view, const ItemHandle*> documents;
    documents.reserve(book.items.size());
    for (const auto& item : book.items) {
        if (item->item_type == ITEM_DOCUMENT) documents.insert_or_assign(item->id, &item);
    }
    std::vector<SpineDocument> spine;
    spine.reserve(book.spine.size());
    for (std::size_t position = 0; position < book.spine.size(); ++position) {
        const auto found = documents.find(book.spine[position].idref);
        if (found != documents.end()) spine.push_back({position, *found->second});
    }
    return spine;
}

}  // namespace quirelo
