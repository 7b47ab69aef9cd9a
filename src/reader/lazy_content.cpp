#include "reader/lazy_content.hpp"

#include "reader/read_entry.hpp"
#include "reader/warning.hpp"
#include "reader/zip_archive.hpp"

namespace quirelo {

namespace {

std::string read_or_warn(ZipArchive& archive, const std::string& entry_name) {
    auto bytes = read_entry(archive, entry_name);
    if (bytes) return std::move(*bytes);
    warn_over_budget(bytes.error());
    if (bytes.error().failure == EntryFailure::Oversized) {
        write_warning_line("Warning: skipping oversized item '" + entry_name + "' (" +
                           std::to_string(bytes.error().declared_size) + " bytes)\n");
    }
    return {};
}

}  // namespace

LazyArchivePool::~LazyArchivePool() {
    for (ZipArchive* archive : idle_) delete archive;
}

std::string LazyArchivePool::load(const std::string& entry_name) {
    std::unique_ptr<ZipArchive> archive;
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            archive.reset(idle_.back());
            idle_.pop_back();
        }
    }
    if (!archive) {
        auto opened = ZipArchive::open_memory(*image_);
        if (!opened) return {};
        archive = std::make_unique<ZipArchive>(std::move(*opened));
        archive->share_budget(budget_);
        opened_.fetch_add(1, std::memory_order_relaxed);
    }
    std::string bytes = read_or_warn(*archive, entry_name);
    std::lock_guard lock(mutex_);
    idle_.reserve(idle_.size() + 1);  // may throw before the archive is handed over
    idle_.push_back(archive.release());
    return bytes;
}

std::string load_lazy_content(const LazySource& source) {
    if (!source.image) return {};
    if (source.loader_state) return static_cast<LazyArchivePool*>(source.loader_state.get())->load(source.entry_name);
    auto archive = ZipArchive::open_memory(*source.image);
    if (!archive) return {};
    return read_or_warn(*archive, source.entry_name);
}

LazySource make_lazy_source(std::string entry_name, const ArchiveImage& image,
                            const std::shared_ptr<LazyArchivePool>& pool) {
    return LazySource{std::move(entry_name), image, &load_lazy_content, pool};
}

}  // namespace quirelo
