// Batch reading against a plain loop of single reads, and two workers against one.
// Prints ratios measured in this one run (best of several interleaved rounds, so that
// other load on the machine hurts every variant alike) and each variant's peak resident
// size, measured alone in a child process.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "batch/read_many.hpp"

namespace {

constexpr std::size_t MIN_FILES = 200;
constexpr int ROUNDS = 5;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}


std::size_t count_books(const std::vector<quirelo::Result<quirelo::Book>>& results) {
    return static_cast<std::size_t>(std::count_if(results.begin(), results.end(), [](const auto& r) { return r.has_value(); }));
}

// Keeps every book, as a caller collecting a list of books would.
double time_plain_loop(const std::vector<std::string>& paths, std::size_t& books) {
    const auto start = Clock::now();
    std::vector<quirelo::Result<quirelo::Book>> results;
    results.reserve(paths.size());
    for (const auto& path : paths) results.push_back(quirelo::read_epub_path(path, quirelo::ReadOptions{}));
    const double elapsed = seconds_since(start);
    books = count_books(results);
    return elapsed;
}

// The same loop on one freshly started thread: what a one-worker pool costs at best,
// since a new thread allocates from its own malloc arena, not the warm main one.
double time_loop_on_new_thread(const std::vector<std::string>& paths, std::size_t& books) {
    double elapsed = 0;
    std::thread([&] { elapsed = time_plain_loop(paths, books); }).join();
    return elapsed;
}

double time_batch(const std::vector<std::string>& paths, std::optional<std::uint64_t> workers, std::size_t& books) {
    const auto start = Clock::now();
    auto results = quirelo::read_epubs(paths, workers, quirelo::ReadOptions{});
    const double elapsed = seconds_since(start);
    if (!results) {
        std::fprintf(stderr, "batch failed: %s\n", results.error().message().c_str());
        books = 0;
        return elapsed;
    }
    books = count_books(*results);
    return elapsed;
}

struct Variant {
    const char* name;
    std::function<double(const std::vector<std::string>&, std::size_t&)> run;
    double best = 1e300;
    std::size_t books = 0;
    long peak_rss_kib = -1;
};

// Peak resident size of a child process that runs the variant twice, as a caller reading
// two batches in a row would. Forked before this process starts any thread.
long isolated_peak_rss_kib(const Variant& variant, const std::vector<std::string>& paths) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        std::size_t books = 0;
        variant.run(paths, books);
        variant.run(paths, books);
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status)) return -1;
    return usage.ru_maxrss;
}

}  // namespace

int main() {
    namespace fs = std::filesystem;
    const fs::path corpus = QUIRELO_CORPUS_DIR;
    std::vector<std::string> books;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(corpus, error))
        if (entry.path().extension() == ".epub") books.push_back(entry.path().string());
    if (books.empty()) {
        std::printf("skipped: no .epub files in %s\n", corpus.c_str());
        return 0;
    }
    std::sort(books.begin(), books.end());
    std::vector<std::string> paths;
    paths.reserve(MIN_FILES + books.size());
    while (paths.size() < MIN_FILES) paths.insert(paths.end(), books.begin(), books.end());

    std::uintmax_t input_bytes = 0;
    for (const auto& path : paths) input_bytes += fs::file_size(path, error);

    Variant variants[] = {
        {"plain loop", time_plain_loop},
        {"loop on a new thread", time_loop_on_new_thread},
        {"1 worker", [](const auto& p, std::size_t& b) { return time_batch(p, std::uint64_t{1}, b); }},
        {"2 workers", [](const auto& p, std::size_t& b) { return time_batch(p, std::uint64_t{2}, b); }},
        {"shared pool", [](const auto& p, std::size_t& b) { return time_batch(p, std::nullopt, b); }},
    };
    enum { LOOP, THREAD_LOOP, ONE, TWO, SHARED };

    for (Variant& variant : variants) variant.peak_rss_kib = isolated_peak_rss_kib(variant, paths);
    // Warm the page cache and the shared pool.
    variants[LOOP].run(paths, variants[LOOP].books);
    variants[SHARED].run(paths, variants[SHARED].books);
    for (int round = 0; round < ROUNDS; ++round)
        for (Variant& variant : variants) variant.best = std::min(variant.best, variant.run(paths, variant.books));

    std::printf("files: %zu (%zu distinct, %.1f MB on disk), best of %d interleaved rounds, %u logical processors\n",
                paths.size(), books.size(), static_cast<double>(input_bytes) / 1e6, ROUNDS,
                std::thread::hardware_concurrency());
    for (const Variant& variant : variants)
        std::printf("  %-22s %8.1f ms  %7.1f MB peak RSS  (%zu books)\n", variant.name, variant.best * 1e3,
                    variant.peak_rss_kib / 1024.0, variant.books);
    std::printf("plain loop / 1 worker:           %.2fx  (goal: >= 1.00)\n", variants[LOOP].best / variants[ONE].best);
    std::printf("loop on a new thread / 1 worker: %.2fx  (the pool's own cost)\n",
                variants[THREAD_LOOP].best / variants[ONE].best);
    std::printf("1 worker / 2 workers:            %.2fx  (goal: >= 1.80)\n", variants[ONE].best / variants[TWO].best);
    std::printf("plain loop / shared pool:        %.2fx\n", variants[LOOP].best / variants[SHARED].best);
    return 0;
}
