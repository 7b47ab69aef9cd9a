#pragma once
// A manifest item: an immutable record shared by the book, Python wrappers and work in
// progress. Only its content cell changes, once, when lazy content is first loaded.
//
// Contract: an Item is handed out as ItemHandle (shared ownership, const); whoever holds
// a handle keeps the record, its bytes and its lazy source alive, whatever happens to the
// book it came from. Every const use, load_content included, is safe from any number of
// threads at once. The bytes never change once set, so a reference or view into them is
// valid as long as some handle to the item lives.
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "model/font_obfuscation.hpp"
#include "model/item_type.hpp"

namespace quirelo {

// The whole archive image of a lazily read book, shared by all its items.
using ArchiveImage = std::shared_ptr<const std::string>;

struct LazySource;
// Fills an item's content from its lazy source; never fails (a failure gives empty bytes).
using LazyLoader = std::string (*)(const LazySource&);

struct LazySource {
    std::string entry_name;
    ArchiveImage image;
    LazyLoader loader = nullptr;
    // State the loader shares among the items of one image (opaque to the model).
    std::shared_ptr<void> loader_state = nullptr;
};

// A byte buffer set once, at creation or by the first access; concurrent first accesses
// load once and the others wait.
class ContentCell {
public:
    ContentCell() = default;
    explicit ContentCell(std::string bytes) : bytes_(std::move(bytes)) { ready_.store(true, std::memory_order_release); }
    ContentCell(const ContentCell&) = delete;
    ContentCell& operator=(const ContentCell&) = delete;

    bool is_set() const { return ready_.load(std::memory_order_acquire); }

    template <class Loader>
    const std::string& get_or_load(Loader&& load) const {
        if (!ready_.load(std::memory_order_acquire)) {
            std::lock_guard lock(mutex_);
            if (!ready_.load(std::memory_order_relaxed)) {
                bytes_ = load();
                ready_.store(true, std::memory_order_release);
            }
        }
        return bytes_;
    }

private:
    mutable std::mutex mutex_;
    mutable std::atomic<bool> ready_{false};
    mutable std::string bytes_;
};

struct Item {
    std::string id;
    std::string href;
    std::string media_type;
    std::optional<std::string> properties;
    std::optional<std::string> media_overlay;
    std::optional<std::string> fallback;
    // Set when META-INF/encryption.xml declared this item's bytes an obfuscated font.
    std::optional<FontObfuscation> obfuscation;
    std::optional<LazySource> lazy_source;
    ContentCell content;
    ItemType item_type = ITEM_OTHER;

    // An item whose bytes are known now.
    Item(std::string id_text, std::string href_text, std::string media, std::string bytes, ItemType type)
        : id(std::move(id_text)), href(std::move(href_text)), media_type(std::move(media)),
          content(std::move(bytes)), item_type(type) {}
    // An item whose bytes are loaded on first access.
    Item(std::string id_text, std::string href_text, std::string media, LazySource source, ItemType type)
        : id(std::move(id_text)), href(std::move(href_text)), media_type(std::move(media)),
          lazy_source(std::move(source)), item_type(type) {}
};

using ItemHandle = std::shared_ptr<const Item>;

// The item's bytes, running the lazy loader first when the cell is still unset (once,
// even when threads race; a failed load gives empty bytes and never an error). The
// reference is valid as long as the item lives.
const std::string& load_content(const Item& item);

// The EPUB 3 navigation document (an XHTML navigation item), as opposed to an NCX: the
// item whose empty content the writer fills with a generated navigation document.
bool is_xhtml_navigation(const Item& item);

}  // namespace quirelo
