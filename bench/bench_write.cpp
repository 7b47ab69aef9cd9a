// Writing every corpus book to bytes, against the floor measured in the same run: the same
// entries compressed one by one with libdeflate at level 6 and appended to one buffer.
// Books are read eagerly first, untimed.
#include <libdeflate.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "model/book.hpp"
#include "reader/read_epub.hpp"
#include "writer/write_epub.hpp"
#include "writer/zip_writer.hpp"

#include "corpus_paths.hpp"

namespace {

// The uncompressed entries of an archive, in order, as the ZIP library reads them.
std::vector<std::string> archive_entries(const std::string& archive) {
    std::vector<std::string> entries;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(archive.data(), archive.size(), 0, &error);
    zip_t* zip = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (zip == nullptr) {
        zip_source_free(source);
        return entries;
    }
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    for (zip_int64_t index = 0; index < count; ++index) {
        zip_stat_t stat;
        zip_stat_index(zip, static_cast<zip_uint64_t>(index), 0, &stat);
        std::string data(stat.size, '\0');
        zip_file_t* file = zip_fopen_index(zip, static_cast<zip_uint64_t>(index), 0);
        zip_fread(file, data.data(), data.size());
        zip_fclose(file);
        entries.push_back(std::move(data));
    }
    zip_discard(zip);
    return entries;
}

// Best seconds per round of each kind of work, the kinds interleaved round by round so
// that load from elsewhere on the machine falls on both alike.
template <class Floor, class Write>
std::pair<double, double> best_rounds(Floor&& floor, Write&& write) {
    using Clock = std::chrono::steady_clock;
    auto seconds = [](auto&& work) {
        const auto start = Clock::now();
        work();
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    floor();  // warm caches and allocator
    write();
    double best_floor = 1e300;
    double best_write = 1e300;
    const auto start = Clock::now();
    int rounds = 0;
    while (rounds < 5 || std::chrono::duration<double>(Clock::now() - start).count() < 3.0) {
        best_floor = std::min(best_floor, seconds(floor));
        best_write = std::min(best_write, seconds(write));
        ++rounds;
    }
    return {best_floor, best_write};
}

volatile std::size_t sink;

}  // namespace

int main() {
    const std::vector<std::filesystem::path> paths = corpus_paths();

    std::vector<quirelo::Book> books;
    std::vector<std::vector<std::string>> floor_entries;
    std::size_t total = 0;
    for (const auto& path : paths) {
        auto book = quirelo::read_epub_path(path.string(), {});
        if (!book) continue;
        auto archive = quirelo::write_epub_bytes(*book);
        if (!archive) {
            std::printf("not writable: %s: %s\n", path.filename().c_str(), archive.error().message().c_str());
            continue;
        }
        floor_entries.push_back(archive_entries(*archive));
        for (const auto& entry : floor_entries.back()) total += entry.size();
        books.push_back(std::move(*book));
    }
    if (books.empty()) {
        std::printf("skipped: no readable corpus books under %s\n", QUIRELO_CORPUS_DIR);
        return 0;
    }

    libdeflate_compressor* compressor = libdeflate_alloc_compressor(quirelo::ZIP_DEFLATE_LEVEL);
    std::string scratch;
    auto floor_round = [&] {
        std::size_t size = 0;
        for (const auto& entries : floor_entries) {
            std::string out;
            for (const auto& entry : entries) {
                const std::size_t bound = libdeflate_deflate_compress_bound(compressor, entry.size());
                if (scratch.size() < bound) scratch.resize(bound);
                const std::size_t compressed =
                    libdeflate_deflate_compress(compressor, entry.data(), entry.size(), scratch.data(), bound);
                out.append(scratch.data(), compressed);
            }
            size += out.size();
        }
        sink = size;
    };
    auto write_round = [&] {
        std::size_t size = 0;
        for (const auto& book : books) size += quirelo::write_epub_bytes(book)->size();
        sink = size;
    };
    const auto [floor, write] = best_rounds(floor_round, write_round);
    libdeflate_free_compressor(compressor);

    const double megabytes = static_cast<double>(total) / 1e6;
    std::printf("corpus: %zu books, %.2f MB of entries\n", books.size(), megabytes);
    std::printf("%-36s %10s %12s\n", "pass", "MB/s", "x floor");
    std::printf("%-36s %10.1f %12.3f\n", "floor (libdeflate level 6 + append)", megabytes / floor, 1.0);
    std::printf("%-36s %10.1f %12.3f\n", "write_epub_bytes", megabytes / write, write / floor);
    return 0;
}
