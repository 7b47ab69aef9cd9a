#pragma once
// The loader of lazily read items, run once per item through its content cell.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "model/item.hpp"
#include "reader/zip_archive.hpp"

namespace quirelo {

// Archives opened over one lazily read image and kept for its items: a load borrows an
// idle one, or opens another when all are in use by other threads. Loading every item of
// a book then parses the archive index once per concurrent loader, not once per item.
class LazyArchivePool {
public:
    LazyArchivePool(ArchiveImage image, std::shared_ptr<ReadBudget> budget)
        : image_(std::move(image)), budget_(std::move(budget)) {}
    LazyArchivePool(const LazyArchivePool&) = delete;
    LazyArchivePool& operator=(const LazyArchivePool&) = delete;
    ~LazyArchivePool();

    std::string load(const std::string& entry_name);
    // Archives opened so far (for tests).
    std::size_t opened() const { return opened_.load(std::memory_order_relaxed); }

private:
    ArchiveImage image_;
    std::shared_ptr<ReadBudget> budget_;
    std::mutex mutex_;
    std::vector<ZipArchive*> idle_;
    std::atomic<std::size_t> opened_{0};
};

// Reads the item's entry from its shared archive image. Every failure gives empty bytes;
// only an entry over MAX_ENTRY_SIZE or over the read's budget says so, with a warning line.
std::string load_lazy_content(const LazySource& source);

// The lazy source of an item of a book read lazily from image.
LazySource make_lazy_source(std::string entry_name, const ArchiveImage& image,
                            const std::shared_ptr<LazyArchivePool>& pool);

}  // namespace quirelo
