// Throughput of the text and Markdown converters over the corpus's XHTML, in MB/s of
// input (fastest round), each set against a plain byte scan (counting "<") of the same
// input in this run.
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "markdown/markdown.hpp"
#include "markdown/text_extraction.hpp"
#include "model/book.hpp"

#include "corpus_paths.hpp"

namespace {

bool is_markup_name(std::string_view name) {
    return name.ends_with(".xhtml") || name.ends_with(".html") || name.ends_with(".htm");
}

// Every XHTML entry of one archive, read straight from the ZIP.
void read_markup_entries(const std::filesystem::path& path, std::vector<std::string>& documents) {
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (archive == nullptr) return;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t index = 0; index < count; ++index) {
        zip_stat_t stat;
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) != 0) continue;
        if (stat.name == nullptr || !is_markup_name(stat.name) || !(stat.valid & ZIP_STAT_SIZE)) continue;
        zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0);
        if (file == nullptr) continue;
        std::string bytes(stat.size, '\0');
        const zip_int64_t read = zip_fread(file, bytes.data(), stat.size);
        zip_fclose(file);
        if (read == static_cast<zip_int64_t>(stat.size)) documents.push_back(std::move(bytes));
    }
    zip_close(archive);
}

// Seconds of the fastest round of work, among rounds repeated for at least a second and
// at least five times: on a shared machine the fastest round is the one least disturbed.
template <class Work>
double seconds_per_round(Work&& work) {
    using Clock = std::chrono::steady_clock;
    work();  // warm caches and allocator
    std::size_t rounds = 0;
    double fastest = 0;
    const auto start = Clock::now();
    do {
        const auto round_start = Clock::now();
        work();
        const double round = std::chrono::duration<double>(Clock::now() - round_start).count();
        if (rounds++ == 0 || round < fastest) fastest = round;
    } while (rounds < 5 || std::chrono::duration<double>(Clock::now() - start).count() < 1.0);
    return fastest;
}

volatile std::size_t sink;

}  // namespace

int main() {
    const std::vector<std::filesystem::path> books = corpus_paths();
    std::vector<std::string> documents;
    for (const auto& path : books) read_markup_entries(path, documents);
    if (documents.empty()) {
        std::printf("skipped: no corpus XHTML under %s\n", QUIRELO_CORPUS_DIR);
        return 0;
    }
    std::size_t total = 0;
    for (const auto& document : documents) total += document.size();

    // The same documents as one book, every one in the spine.
    quirelo::Book book = quirelo::book_new();
    std::vector<std::pair<std::string, bool>> spine;
    for (std::size_t index = 0; index < documents.size(); ++index) {
        std::string id = "d" + std::to_string(index);
        quirelo::add_item(book, std::make_shared<const quirelo::Item>(id, id + ".xhtml", "application/xhtml+xml",
                                                                       documents[index], quirelo::ITEM_DOCUMENT));
        spine.emplace_back(std::move(id), true);
    }
    quirelo::set_spine(book, spine);

    const double scan = seconds_per_round([&] {
        std::size_t count = 0;
        for (const auto& document : documents) count += static_cast<std::size_t>(std::count(document.begin(), document.end(), '<'));
        sink = count;
    });
    const double text = seconds_per_round([&] {
        std::size_t size = 0;
        for (const auto& document : documents) size += quirelo::extract_text(document).size();
        sink = size;
    });
    const double markdown = seconds_per_round([&] {
        std::size_t size = 0;
        for (const auto& document : documents) size += quirelo::html_to_markdown(document).size();
        sink = size;
    });
    const double whole_book = seconds_per_round([&] { sink = quirelo::to_markdown(book).size(); });

    const double megabytes = static_cast<double>(total) / 1e6;
    std::printf("corpus: %zu XHTML documents from %zu books, %.2f MB\n", documents.size(), books.size(), megabytes);
    std::printf("%-28s %10s %14s\n", "pass", "MB/s", "scan time / x");
    auto report = [&](const char* name, double seconds) {
        std::printf("%-28s %10.0f %14.3f\n", name, megabytes / seconds, scan / seconds);
    };
    report("byte scan (count '<')", scan);
    report("get_text (extract_text)", text);
    report("html_to_markdown", markdown);
    report("to_markdown (whole book)", whole_book);
    return 0;
}
