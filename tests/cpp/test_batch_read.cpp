#include <gtest/gtest.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "batch/read_many.hpp"

namespace {

namespace fs = std::filesystem;
using quirelo::Book;
using quirelo::ReadOptions;
using quirelo::Result;

std::string package_document(const std::string& title) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<package xmlns="http://www.idpf.org/2007/opf" version="3.0" unique-identifier="uid">
  <metadata xmlns:dc="http://purl.org/dc/elements/1.1/">
    <dc:identifier id="uid">urn:test:)" + title + R"(</dc:identifier>
    <dc:title>)" + title + R"(</dc:title>
    <dc:language>en</dc:language>
  </metadata>
  <manifest>
    <item id="text" href="text.xhtml" media-type="application/xhtml+xml"/>
  </manifest>
  <spine><itemref idref="text"/></spine>
</package>
)";
}

// A small but complete book whose title and only document both carry `title`.
void write_book_file(const fs::path& path, const std::string& title) {
    const std::string entries[][2] = {
        {"mimetype", "application/epub+zip"},
        {"META-INF/container.xml",
         R"(<?xml version="1.0"?>
<container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container">
  <rootfiles><rootfile full-path="OEBPS/content.opf" media-type="application/oebps-package+xml"/></rootfiles>
</container>
)"},
        {"OEBPS/content.opf", package_document(title)},
        {"OEBPS/text.xhtml", "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>" + title + "</p></body></html>"},
    };
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr) << "zip error " << error;
    for (const auto& [name, content] : entries) {
        zip_source_t* source = zip_source_buffer(archive, content.data(), content.size(), 0);
        ASSERT_NE(source, nullptr);
        ASSERT_GE(zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8), 0);
    }
    // The buffers above must stay alive until the archive is written here.
    ASSERT_EQ(zip_close(archive), 0);
}

class BatchFiles : public ::testing::Test {
protected:
    void SetUp() override {
        // Parametrized test names carry a '/'.
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        folder_ = fs::temp_directory_path() / ("quirelo_batch_" + std::to_string(::getpid()) + "_" + name);
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string book(const std::string& title) {
        const fs::path path = folder_ / (title + ".epub");
        write_book_file(path, title);
        return path.string();
    }
    std::string not_a_zip() {
        const fs::path path = folder_ / "plain.epub";
        std::ofstream(path) << "just some text, no archive here";
        return path.string();
    }
    std::string missing() const { return (folder_ / "missing.epub").string(); }

    fs::path folder_;
};

std::string title_of(const Book& book) {
    auto title = quirelo::first_dc_value(book, "title");
    return title ? std::string(*title) : std::string("<none>");
}

class BatchReadWorkers : public BatchFiles, public ::testing::WithParamInterface<std::optional<std::uint64_t>> {};

TEST_P(BatchReadWorkers, EachSlotHoldsItsOwnPathsOutcomeInOrder) {
    const std::vector<std::string> paths = {book("alpha"), missing(), book("beta"), not_a_zip(), book("gamma")};
    auto results = quirelo::read_epubs(paths, GetParam(), ReadOptions{});
    ASSERT_TRUE(results.has_value()) << results.error().message();
    ASSERT_EQ(results->size(), paths.size());
    const char* titles[] = {"alpha", nullptr, "beta", nullptr, "gamma"};
    for (std::size_t index = 0; index < paths.size(); ++index) {
        const Result<Book>& slot = (*results)[index];
        if (titles[index]) {
            ASSERT_TRUE(slot.has_value()) << index << ": " << slot.error().message();
            EXPECT_EQ(title_of(*slot), titles[index]);
        } else {
            ASSERT_FALSE(slot.has_value()) << "slot " << index << " should have failed";
            // The same failure a single read of that path reports.
            auto single = quirelo::read_epub_path(paths[index], ReadOptions{});
            ASSERT_FALSE(single.has_value());
            EXPECT_EQ(slot.error().kind, single.error().kind);
            EXPECT_EQ(slot.error().message(), single.error().message());
        }
    }
    EXPECT_EQ((*results)[1].error().kind, quirelo::ErrorKind::Io);
    EXPECT_EQ((*results)[3].error().kind, quirelo::ErrorKind::Zip);
}

INSTANTIATE_TEST_SUITE_P(Batch, BatchReadWorkers,
                         ::testing::Values(std::nullopt, std::optional<std::uint64_t>(0),
                                           std::optional<std::uint64_t>(1), std::optional<std::uint64_t>(2),
                                           std::optional<std::uint64_t>(std::numeric_limits<std::uint64_t>::max())));

TEST(BatchRead, EmptyInputGivesEmptyResult) {
    auto results = quirelo::read_epubs({}, std::uint64_t{2}, ReadOptions{});
    ASSERT_TRUE(results.has_value());
    EXPECT_TRUE(results->empty());
}

TEST_F(BatchFiles, SamePathTwiceGivesIndependentBooks) {
    const std::string path = book("twice");
    auto results = quirelo::read_epubs({path, path}, std::uint64_t{2}, ReadOptions{});
    ASSERT_TRUE(results.has_value());
    ASSERT_TRUE((*results)[0].has_value() && (*results)[1].has_value());
    const Book& first = *(*results)[0];
    const Book& second = *(*results)[1];
    ASSERT_EQ(first.items.size(), 1u);
    ASSERT_EQ(second.items.size(), 1u);
    EXPECT_NE(first.items[0].get(), second.items[0].get());
    EXPECT_EQ(quirelo::load_content(*first.items[0]), quirelo::load_content(*second.items[0]));
}

TEST_F(BatchFiles, BooksAreCompleteEvenWhenLazyIsAskedAndFilesAreGone) {
    const std::vector<std::string> paths = {book("one"), book("two")};
    ReadOptions options;
    options.lazy = true;
    auto results = quirelo::read_epubs(paths, std::nullopt, options);
    ASSERT_TRUE(results.has_value());
    fs::remove_all(folder_);
    for (std::size_t index = 0; index < paths.size(); ++index) {
        ASSERT_TRUE((*results)[index].has_value());
        for (const auto& item : (*results)[index]->items) {
            EXPECT_TRUE(item->content.is_set()) << item->href << " was left to load later";
            EXPECT_FALSE(item->lazy_source.has_value());
        }
        EXPECT_NE(quirelo::load_content(*(*results)[index]->items[0]).find(index == 0 ? "one" : "two"),
                  std::string::npos);
    }
}

TEST_F(BatchFiles, TwoThreadsShareThePoolAtOnce) {
    std::vector<std::string> paths[2];
    for (int caller = 0; caller < 2; ++caller)
        for (int number = 0; number < 20; ++number)
            paths[caller].push_back(book("caller" + std::to_string(caller) + "_" + std::to_string(number)));
    Result<std::vector<Result<Book>>> outcomes[2];
    {
        std::jthread first([&] { outcomes[0] = quirelo::read_epubs(paths[0], std::nullopt, ReadOptions{}); });
        std::jthread second([&] { outcomes[1] = quirelo::read_epubs(paths[1], std::nullopt, ReadOptions{}); });
    }
    for (int caller = 0; caller < 2; ++caller) {
        ASSERT_TRUE(outcomes[caller].has_value());
        ASSERT_EQ(outcomes[caller]->size(), 20u);
        for (int number = 0; number < 20; ++number) {
            ASSERT_TRUE((*outcomes[caller])[number].has_value());
            EXPECT_EQ(title_of(*(*outcomes[caller])[number]),
                      "caller" + std::to_string(caller) + "_" + std::to_string(number));
        }
    }
}

TEST(BatchCorpus, MatchesOneByOneReads) {
    const fs::path corpus = QUIRELO_CORPUS_DIR;
    std::vector<std::string> paths;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(corpus, error))
        if (entry.path().extension() == ".epub") paths.push_back(entry.path().string());
    if (paths.empty()) GTEST_SKIP() << "no corpus at " << corpus;
    std::sort(paths.begin(), paths.end());
    auto batch = quirelo::read_epubs(paths, std::nullopt, ReadOptions{});
    ASSERT_TRUE(batch.has_value());
    ASSERT_EQ(batch->size(), paths.size());
    for (std::size_t index = 0; index < paths.size(); ++index) {
        auto single = quirelo::read_epub_path(paths[index], ReadOptions{});
        const Result<Book>& slot = (*batch)[index];
        ASSERT_EQ(slot.has_value(), single.has_value()) << paths[index];
        if (!single) {
            EXPECT_EQ(slot.error().message(), single.error().message());
            continue;
        }
        EXPECT_EQ(title_of(*slot), title_of(*single)) << paths[index];
        ASSERT_EQ(slot->items.size(), single->items.size()) << paths[index];
        for (std::size_t item = 0; item < single->items.size(); ++item)
            EXPECT_EQ(quirelo::load_content(*slot->items[item]), quirelo::load_content(*single->items[item]))
                << paths[index] << " " << single->items[item]->href;
    }
}

}  // namespace
