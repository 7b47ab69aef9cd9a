#include "writer/write_epub.hpp"

#include "writer/archive_plan.hpp"
#include "writer/replacing_file.hpp"
#include "writer/write_book.hpp"
#include "writer/zip_sink.hpp"

namespace quirelo {

namespace {

// Room for the whole archive when every loaded item compressed to nothing less than
// itself: large books are mostly images, which do not shrink.
std::size_t expected_archive_size(const Book& book) {
    std::size_t size = 8192 + 256 * book.items.size();
    for (const ItemHandle& item : book.items) {
        if (item->content.is_set()) size += load_content(*item).size();
    }
    return size;
}

}  // namespace

Result<void> write_epub_file(const Book& book, const std::string& path) {
    // Only a writable book may touch the disk.
    auto plan = plan_archive(book);
    if (!plan) return std::unexpected(std::move(plan.error()));
    auto file = ReplacingFile::open(path);
    if (!file) return std::unexpected(std::move(file.error()));
    FileSink sink(file->descriptor());
    if (auto written = write_book(book, *plan, sink); !written) return written;
    if (auto flushed = sink.flush(); !flushed) return flushed;
    return file->commit();
}

Result<std::string> write_epub_bytes(const Book& book) {
    auto plan = plan_archive(book);
    if (!plan) return std::unexpected(std::move(plan.error()));
    std::string archive;
    archive.reserve(expected_archive_size(book));
    StringSink sink(archive);
    if (auto written = write_book(book, *plan, sink); !written) return std::unexpected(std::move(written.error()));
    return archive;
}

}  // namespace quirelo
