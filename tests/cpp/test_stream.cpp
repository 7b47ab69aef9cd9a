// The conversion stream: output faults stop it, a book's own write failure (or a writer that
// throws) does not, and the window bounds the books in flight.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/conversion_stream.hpp"
#include "test_support.hpp"

namespace {

using namespace quirelo;
using quirelo::testing::small_book;
using quirelo::testing::TempDir;

struct BookRun {
    std::vector<std::string> paths;
    std::vector<BookFiles> files;
};

BookRun books_with_files(const TempDir& folder, std::size_t count) {
    const std::string book = folder.write("book.epub", small_book("T"));
    BookRun run;
    for (std::size_t i = 0; i < count; ++i) {
        run.paths.push_back(book);
        run.files.push_back({folder.file("out" + std::to_string(i) + ".md"), {}});
    }
    return run;
}

std::vector<IndexedOutcome> drain(ConversionStream& stream) {
    std::vector<IndexedOutcome> outcomes;
    IndexedOutcome done;
    while (stream.next(done) == ConversionStream::Status::Ready) outcomes.push_back(std::move(done));
    return outcomes;
}

struct WriteFailureCase {
    int os_error;  // 0: the writer throws instead
    FailureKind kind;
    std::size_t outcomes;  // one worker, window 1: a fault lets no later book start
};

class StreamWriteFailure : public ::testing::TestWithParam<WriteFailureCase> {};

TEST_P(StreamWriteFailure, OnlyAnOutputFaultStopsTheRun) {
    const TempDir folder;
    BookRun run = books_with_files(folder, 8);
    std::atomic<int> calls{0};
    StreamSettings settings{1, 1, {}, [&](const std::string&, std::string_view) -> Result<void> {
                                if (++calls != 3) return {};
                                if (GetParam().os_error == 0) throw std::runtime_error("writer broke");
                                return std::unexpected(EpubError::io_errno(GetParam().os_error));
                            }};
    auto stream = ConversionStream::start(run.paths, run.files, {}, settings);
    ASSERT_TRUE(stream.has_value());
    const auto outcomes = drain(**stream);
    ASSERT_EQ(outcomes.size(), GetParam().outcomes);
    std::size_t failed = 0;
    for (const auto& [index, outcome] : outcomes) {
        if (outcome) {
            EXPECT_FALSE(outcome->markdown.has_value()) << "a written output is not handed back";
            continue;
        }
        ++failed;
        EXPECT_EQ(outcome.error().kind, GetParam().kind);
        EXPECT_EQ(outcome.error().os_error, GetParam().os_error);
        EXPECT_EQ(outcome.error().file, GetParam().os_error ? run.files[index].markdown : "");
        EXPECT_EQ(outcome.error().message == "writer broke", GetParam().os_error == 0) << outcome.error().message;
    }
    EXPECT_EQ(failed, 1u);
    EXPECT_EQ(calls.load(), static_cast<int>(GetParam().outcomes));
}

INSTANTIATE_TEST_SUITE_P(Errors, StreamWriteFailure,
                         ::testing::Values(WriteFailureCase{ENOSPC, FailureKind::OutputFault, 3},
                                           WriteFailureCase{EDQUOT, FailureKind::OutputFault, 3},
                                           WriteFailureCase{ENOENT, FailureKind::OutputFault, 3},
                                           WriteFailureCase{ENOTDIR, FailureKind::OutputFault, 3},
                                           WriteFailureCase{EROFS, FailureKind::OutputFault, 3},
                                           WriteFailureCase{EIO, FailureKind::OutputFault, 3},
                                           WriteFailureCase{EACCES, FailureKind::Write, 8},
                                           WriteFailureCase{0, FailureKind::Internal, 8}));

// The workers stop once the window's books wait for the caller; a cancel starts no more.
TEST(Stream, TheWindowBoundsTheBooksInFlightAndACancelEndsThem) {
    const TempDir folder;
    BookRun run = books_with_files(folder, 12);
    std::atomic<std::size_t> written{0};
    StreamSettings settings{2, 3, {}, [&](const std::string&, std::string_view) -> Result<void> {
                                ++written;
                                return {};
                            }};
    auto stream = ConversionStream::start(run.paths, run.files, {}, settings);
    ASSERT_TRUE(stream.has_value());
    EXPECT_EQ((*stream)->window(), 3u);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (written.load() < 3 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(written.load(), 3u);
    IndexedOutcome first;
    ASSERT_EQ((*stream)->next(first), ConversionStream::Status::Ready);
    (*stream)->cancel();
    EXPECT_LE(drain(**stream).size(), 3u);  // the window's other books, and one started as the first was taken
    EXPECT_LE(written.load(), 4u);
}

}  // namespace
