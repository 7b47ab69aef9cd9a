// Eager reading of every corpus book against the floor: the same libzip reading every
// entry raw plus libdeflate inflating it, with no XML, no book and no CRC. Prints the
// ratio measured in this run, never a bare time.
#include <libdeflate.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "model/book.hpp"
#include "reader/allocator_policy.hpp"
#include "reader/read_epub.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// Bytes produced by inflating every entry of the archive, or 0 when it cannot be opened.
std::uint64_t floor_read(const std::string& path, libdeflate_decompressor* decompressor, std::string& raw,
                         std::string& out) {
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!archive) return 0;
    std::uint64_t produced = 0;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t index = 0; index < count; ++index) {
        zip_stat_t stat;
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) != 0) continue;
        zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), ZIP_FL_COMPRESSED);
        if (!file) continue;
        raw.resize(stat.comp_size);
        const zip_int64_t got = zip_fread(file, raw.data(), raw.size());
        zip_fclose(file);
        if (got != static_cast<zip_int64_t>(stat.comp_size)) continue;
        if (stat.comp_method == ZIP_CM_DEFLATE) {
            out.resize(stat.size);
            std::size_t actual = 0;
            if (libdeflate_deflate_decompress(decompressor, raw.data(), raw.size(), out.data(), out.size(), &actual) ==
                LIBDEFLATE_SUCCESS) {
                produced += actual;
            }
        } else {
            produced += raw.size();
        }
    }
    zip_discard(archive);
    return produced;
}

std::uint64_t engine_read(const std::string& path) {
    auto book = quirelo::read_epub_path(path, {});
    if (!book) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), book.error().message().c_str());
        return 0;
    }
    std::uint64_t produced = 0;
    for (const auto& item : book->items) produced += quirelo::load_content(*item).size();
    return produced;
}

}  // namespace

int main(int argc, char** argv) {
    // As the Python modules do when imported; --allocator-defaults measures glibc's own.
    const bool allocator_defaults = argc > 1 && std::string_view(argv[1]) == "--allocator-defaults";
    if (!allocator_defaults) quirelo::keep_freed_memory_for_reuse();
    const std::filesystem::path corpus = QUIRELO_CORPUS_DIR;
    std::vector<std::string> books;
    if (std::filesystem::is_directory(corpus)) {
        for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
            if (entry.path().extension() == ".epub") books.push_back(entry.path().string());
        }
    }
    if (books.empty()) {
        std::printf("bench_read: skipped, no books in %s\n", corpus.c_str());
        return 0;
    }
    std::sort(books.begin(), books.end());

    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    std::string raw, out;
    constexpr int ROUNDS = 15;
    double best_floor = 1e300, best_engine = 1e300, best_lazy = 1e300;
    std::uint64_t floor_bytes = 0, engine_bytes = 0;
    // Interleaved rounds, best of each, so both sides see the same machine state.
    for (int round = 0; round < ROUNDS; ++round) {
        auto start = Clock::now();
        floor_bytes = 0;
        for (const auto& book : books) floor_bytes += floor_read(book, decompressor, raw, out);
        best_floor = std::min(best_floor, std::chrono::duration<double>(Clock::now() - start).count());

        start = Clock::now();
        engine_bytes = 0;
        for (const auto& book : books) engine_bytes += engine_read(book);
        best_engine = std::min(best_engine, std::chrono::duration<double>(Clock::now() - start).count());

        // Lazy open: metadata, spine and toc, no item content.
        start = Clock::now();
        for (const auto& book : books) {
            if (!quirelo::read_epub_path(book, {.lazy = true})) std::fprintf(stderr, "%s: lazy read failed\n", book.c_str());
        }
        best_lazy = std::min(best_lazy, std::chrono::duration<double>(Clock::now() - start).count());
    }
    libdeflate_free_decompressor(decompressor);

    const double megabytes = static_cast<double>(floor_bytes) / 1e6;
    std::printf("bench_read: %zu books, %.1f MB inflated (items: %.1f MB), best of %d rounds, %s\n", books.size(),
                megabytes, static_cast<double>(engine_bytes) / 1e6, ROUNDS,
                allocator_defaults ? "glibc's allocator defaults" : "freed memory kept for reuse");
    std::printf("  floor  (libzip raw + libdeflate): %8.1f MB/s\n", megabytes / best_floor);
    std::printf("  read_epub_path (eager, whole book): %8.1f MB/s\n", megabytes / best_engine);
    std::printf("  ratio read_epub_path / floor time: %.2fx\n", best_engine / best_floor);
    std::printf("  lazy open (no content) / eager read time: %.3f\n", best_lazy / best_engine);
    return 0;
}
