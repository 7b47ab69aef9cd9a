#pragma once
// Many books converted on a worker pool, each outcome handed over as soon as it is ready
// (completion order), with a bounded window of books in flight.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "batch/parallel_map.hpp"
#include "pipeline/book_files.hpp"
#include "pipeline/convert_book.hpp"

namespace quirelo {

struct StreamSettings {
    // Threads of the stream's own pool: nothing or 0 = one per logical processor.
    std::optional<std::uint64_t> workers;
    // Books started but not yet taken by the caller, at most; 0 = two per pool thread,
    // plus one per file writer. The memory of a stream is that of `window` books,
    // whatever the number of paths.
    std::size_t window = 0;
    ThreadLauncher launch;  // starts a new pool's threads (tests)
    FileWriter write_file;  // writes the files of BookFiles (tests); write_whole_file when empty
};

struct IndexedOutcome {
    std::size_t index = 0;  // the book's position in the paths
    BookOutcome outcome;
};

class ConversionStream {
public:
    // Starts converting. `files` is empty (every output handed back) or has one entry per
    // path. Files are written by threads of their own, not the pool's: flushing a file to
    // disk waits on the device, and many flushes at once share the file system's journal
    // commits, so the workers go on converting meanwhile. Fails (PoolStart) only when
    // threads cannot be started; then nothing is converted.
    static Result<std::unique_ptr<ConversionStream>> start(std::vector<std::string> paths, std::vector<BookFiles> files,
                                                           ConversionOptions options, StreamSettings settings = {});

    ConversionStream(const ConversionStream&) = delete;
    ConversionStream& operator=(const ConversionStream&) = delete;
    // Stops starting books and waits for those in progress (their files are whole or absent).
    ~ConversionStream();

    enum class Status { Ready, Waiting, Finished };
    // The next book to finish, waiting at most `patience`: Ready with its outcome, Waiting
    // when none finished in time, Finished once every book has been handed over (or, after
    // cancel or an output fault, every book that was started). A failure of the stream
    // itself (not of a book: an allocation in the bookkeeping) is rethrown here. Safe to
    // call from several threads.
    Status next(IndexedOutcome& out, std::chrono::milliseconds patience);
    Status next(IndexedOutcome& out) { return next(out, std::chrono::milliseconds::max()); }

    // No further book starts (books in progress finish). An output fault cancels by itself:
    // every later file would fail alike.
    void cancel();
    // Cancels and waits for the books in progress. Safe to call from several threads.
    void finish();

    std::size_t window() const { return window_; }

private:
    ConversionStream(std::vector<std::string> paths, std::vector<BookFiles> files, ConversionOptions options,
                     StreamSettings settings, PoolLease lease, std::size_t window);
    Result<void> start_threads(std::size_t file_writers);
    void convert_all();
    void convert_one(std::size_t index);
    void write_files();
    void hand_over(IndexedOutcome&& done);  // with mutex_ held

    const std::vector<std::string> paths_;
    const std::vector<BookFiles> files_;
    const ConversionOptions options_;
    const StreamSettings settings_;
    PoolLease lease_;
    const std::size_t window_;

    std::mutex mutex_;
    std::condition_variable slot_free_;   // a book was taken, or the stream was cancelled
    std::condition_variable to_write_;    // a book's files wait, or conversion ended
    std::condition_variable book_done_;   // an outcome is ready, or the stream ended
    // Guarded by mutex_.
    std::size_t in_flight_ = 0;  // started and not yet taken
    std::deque<IndexedOutcome> writing_;
    std::deque<IndexedOutcome> ready_;
    bool cancelled_ = false;
    bool conversion_ended_ = false;
    std::size_t writers_running_ = 0;
    std::exception_ptr failure_;

    std::vector<std::string> folders_;  // one file of each folder written to, flushed at the end

    std::mutex join_mutex_;
    std::thread coordinator_;  // hands the pool its job, which blocks its caller
    std::vector<std::thread> writers_;
};

// The outcomes of every path in input order, through one stream whose window holds them all.
Result<std::vector<BookOutcome>> convert_many(const std::vector<std::string>& paths,
                                               std::optional<std::uint64_t> workers,
                                               const ConversionOptions& options,
                                               const ThreadLauncher& launch = {});

}  // namespace quirelo
