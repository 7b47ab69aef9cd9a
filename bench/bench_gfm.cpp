// Throughput of the structured Markdown flavour over the corpus's spine documents, in MB/s
// of input (best of interleaved rounds), against a plain byte scan and the exact flavour
// of the same documents in this run; the HTML5 parse alone shows what the parser costs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "gfm/gfm_book.hpp"
#include "markdown/markdown.hpp"
#include "reader/read_epub.hpp"
#include "text/utf8.hpp"

#include "corpus_paths.hpp"

namespace {

volatile std::size_t sink;

struct Contender {
    const char* name;
    double best = 0;
};

}  // namespace

int main() {
    const std::vector<std::filesystem::path> paths = corpus_paths();
    std::vector<quirelo::Book> books;
    std::vector<std::string> documents;  // valid UTF-8, as both converters take it
    for (const auto& path : paths) {
        auto book = quirelo::read_epub_path(path.string(), quirelo::ReadOptions{});
        if (!book) continue;
        for (const auto& spine : quirelo::spine_documents(*book)) {
            documents.push_back(quirelo::decode_utf8_lossy(quirelo::load_content(*spine.item)));
        }
        books.push_back(std::move(*book));
    }
    if (documents.empty()) {
        std::printf("skipped: no corpus books under %s\n", QUIRELO_CORPUS_DIR);
        return 0;
    }
    std::size_t total = 0;
    for (const auto& document : documents) total += document.size();

    quirelo::HtmlParser parser;
    using Clock = std::chrono::steady_clock;
    Contender scan{"byte scan (count '<')"}, exact{"exact: html_to_markdown"}, parse{"HTML5 parse alone (lexbor)"},
        gfm{"gfm: html_to_gfm"}, whole{"gfm: to_gfm (whole books)"};
    auto time = [](Contender& contender, auto&& work) {
        const auto start = Clock::now();
        work();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (contender.best == 0 || seconds < contender.best) contender.best = seconds;
    };
    const auto start = Clock::now();
    for (int round = 0; round < 8 || std::chrono::duration<double>(Clock::now() - start).count() < 3.0; ++round) {
        time(scan, [&] {
            std::size_t count = 0;
            for (const auto& d : documents) count += static_cast<std::size_t>(std::count(d.begin(), d.end(), '<'));
            sink = count;
        });
        time(exact, [&] {
            std::size_t size = 0;
            for (const auto& d : documents) size += quirelo::html_to_markdown(d).size();
            sink = size;
        });
        time(parse, [&] {
            std::size_t bodies = 0;
            for (const auto& d : documents) bodies += parser.parse_body(d).value_or(nullptr) != nullptr;
            sink = bodies;
        });
        time(gfm, [&] {
            std::size_t size = 0;
            for (const auto& d : documents) size += quirelo::html_to_gfm(d, parser).size();
            sink = size;
        });
        time(whole, [&] {
            std::size_t size = 0;
            for (const auto& book : books) size += quirelo::to_gfm(book).size();
            sink = size;
        });
    }
    const double megabytes = static_cast<double>(total) / 1e6;
    std::printf("corpus: %zu spine documents of %zu books, %.2f MB (best of interleaved rounds, one core)\n",
                documents.size(), books.size(), megabytes);
    std::printf("%-30s %10s %16s %16s\n", "pass", "MB/s", "scan time / x", "exact time / x");
    for (const Contender* c : {&scan, &exact, &parse, &gfm, &whole}) {
        std::printf("%-30s %10.0f %16.3f %16.3f\n", c->name, megabytes / c->best, scan.best / c->best,
                    exact.best / c->best);
    }
    std::printf("goal: gfm at least 150 MB/s\n");
    return 0;
}
