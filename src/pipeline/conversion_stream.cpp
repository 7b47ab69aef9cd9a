#include "pipeline/conversion_stream.hpp"

#include <algorithm>
#include <new>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include "writer/replacing_file.hpp"

namespace quirelo {

namespace {

// Threads that write files: a flush waits on the device, not the processor (a few ms on
// an idle disk, tens of ms beside other writers), and the file system commits concurrent
// flushes together, so several per worker keep the workers from waiting on them. They
// sleep while they wait; their stacks are mostly untouched address space.
std::size_t file_writer_count(std::size_t pool_threads) { return std::clamp<std::size_t>(4 * pool_threads, 16, 64); }

}  // namespace

Result<std::unique_ptr<ConversionStream>> ConversionStream::start(std::vector<std::string> paths,
                                                                  std::vector<BookFiles> files,
                                                                  ConversionOptions options,
                                                                  StreamSettings settings) {
    if (!files.empty() && files.size() != paths.size()) files.resize(paths.size());
    const bool writes = std::any_of(files.begin(), files.end(), [](const BookFiles& book) { return book.any(); });
    if (!writes) files.clear();
    const std::size_t count = paths.size();
    // Never the shared pool: a stream's threads wait while its caller pauses, and a caller
    // that reads other books on the shared pool meanwhile would wait for them in turn.
    auto lease = lease_pool(settings.workers.value_or(0), std::max<std::size_t>(count, 1), settings.launch);
    if (!lease) return std::unexpected(std::move(lease.error()));
    const std::size_t threads = lease->pool().thread_count();
    const std::size_t writers = writes ? std::min(file_writer_count(threads), count) : 0;
    const std::size_t window = settings.window != 0 ? settings.window : 2 * threads + writers;
    std::unique_ptr<ConversionStream> stream(new ConversionStream(std::move(paths), std::move(files),
                                                                  std::move(options), std::move(settings),
                                                                  std::move(*lease), window));
    std::set<std::string_view> folders;
    for (const BookFiles& book : stream->files_) {
        for (const std::string* file : {&book.markdown, &book.text}) {
            const std::string_view folder = std::string_view(*file).substr(0, file->rfind('/') + 1);
            if (!file->empty() && folders.insert(folder).second) stream->folders_.push_back(*file);
        }
    }
    if (count == 0) {
        stream->conversion_ended_ = true;
        return stream;
    }
    if (auto started = stream->start_threads(writers); !started) return std::unexpected(std::move(started.error()));
    return stream;
}

ConversionStream::ConversionStream(std::vector<std::string> paths, std::vector<BookFiles> files,
                                   ConversionOptions options, StreamSettings settings, PoolLease lease,
                                   std::size_t window)
    : paths_(std::move(paths)),
      files_(std::move(files)),
      options_(std::move(options)),
      settings_(std::move(settings)),
      lease_(std::move(lease)),
      window_(window) {}

ConversionStream::~ConversionStream() { finish(); }

Result<void> ConversionStream::start_threads(std::size_t file_writers) {
    try {
        writers_.reserve(file_writers);
        for (std::size_t i = 0; i < file_writers; ++i) {
            {
                const std::lock_guard lock(mutex_);
                ++writers_running_;
            }
            try {
                writers_.emplace_back([this] { write_files(); });
            } catch (...) {
                const std::lock_guard lock(mutex_);
                --writers_running_;
                throw;
            }
        }
        coordinator_ = std::thread([this] { convert_all(); });
        return {};
    } catch (const std::system_error& error) {
        {
            // The writers already started find no work and leave; finish() joins them.
            const std::lock_guard lock(mutex_);
            conversion_ended_ = true;
        }
        to_write_.notify_all();
        return fail(ErrorKind::PoolStart, error.what());
    } catch (const std::bad_alloc&) {
        {
            const std::lock_guard lock(mutex_);
            conversion_ended_ = true;
        }
        to_write_.notify_all();
        return fail(ErrorKind::PoolStart, "out of memory");
    }
}

void ConversionStream::convert_all() {
    std::exception_ptr caught;
    try {
        lease_.pool().for_each_index(paths_.size(), [this](std::size_t index) { convert_one(index); });
    } catch (...) {
        caught = std::current_exception();
    }
    const std::lock_guard lock(mutex_);
    if (caught && !failure_) failure_ = caught;
    conversion_ended_ = true;
    to_write_.notify_all();
    book_done_.notify_all();
}

void ConversionStream::convert_one(std::size_t index) {
    {
        // The pool hands out indexes in order, so the window also bounds how far ahead of
        // the slowest book in progress the others may run.
        std::unique_lock lock(mutex_);
        slot_free_.wait(lock, [&] { return cancelled_ || in_flight_ < window_; });
        if (cancelled_) return;
        ++in_flight_;
    }
    IndexedOutcome done{index, convert_book(paths_[index], options_)};
    const std::lock_guard lock(mutex_);
    if (done.outcome && !files_.empty() && files_[index].any()) {
        writing_.push_back(std::move(done));
        to_write_.notify_one();
    } else {
        hand_over(std::move(done));
    }
}

void ConversionStream::hand_over(IndexedOutcome&& done) {
    const bool fault = !done.outcome && done.outcome.error().kind == FailureKind::OutputFault;
    ready_.push_back(std::move(done));
    if (fault) {
        cancelled_ = true;
        slot_free_.notify_all();
    }
    book_done_.notify_all();
}

void ConversionStream::write_files() {
    std::unique_lock lock(mutex_);
    try {
        for (;;) {
            to_write_.wait(lock, [&] { return !writing_.empty() || conversion_ended_; });
            if (writing_.empty()) break;
            IndexedOutcome done = std::move(writing_.front());
            writing_.pop_front();
            lock.unlock();
            write_book_files(done.outcome, files_[done.index], settings_.write_file);
            lock.lock();
            hand_over(std::move(done));
        }
    } catch (...) {
        if (!lock.owns_lock()) lock.lock();
        if (!failure_) failure_ = std::current_exception();
    }
    if (writers_running_ == 1) {
        // The last writer: every file is renamed, and the stream ends once its folders
        // are flushed (one flush per folder rather than one per file).
        lock.unlock();
        for (const std::string& file : folders_) sync_folder_of(file);
        lock.lock();
    }
    --writers_running_;
    book_done_.notify_all();
}

ConversionStream::Status ConversionStream::next(IndexedOutcome& out, std::chrono::milliseconds patience) {
    std::unique_lock lock(mutex_);
    const auto has_news = [&] {
        return !ready_.empty() || (conversion_ended_ && writing_.empty() && writers_running_ == 0);
    };
    if (patience == std::chrono::milliseconds::max()) {
        book_done_.wait(lock, has_news);
    } else if (!book_done_.wait_for(lock, patience, has_news)) {
        return Status::Waiting;
    }
    if (ready_.empty()) {
        if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
        return Status::Finished;
    }
    out = std::move(ready_.front());
    ready_.pop_front();
    --in_flight_;
    slot_free_.notify_one();
    return Status::Ready;
}

void ConversionStream::cancel() {
    const std::lock_guard lock(mutex_);
    cancelled_ = true;
    slot_free_.notify_all();
}

void ConversionStream::finish() {
    cancel();
    const std::lock_guard lock(join_mutex_);
    if (coordinator_.joinable()) coordinator_.join();
    for (std::thread& writer : writers_) {
        if (writer.joinable()) writer.join();
    }
}

Result<std::vector<BookOutcome>> convert_many(const std::vector<std::string>& paths,
                                               std::optional<std::uint64_t> workers,
                                               const ConversionOptions& options,
                                               const ThreadLauncher& launch) {
    auto stream = ConversionStream::start(paths, {}, options, {workers, paths.size(), launch, {}});
    if (!stream) return std::unexpected(std::move(stream.error()));
    std::vector<std::optional<BookOutcome>> slots(paths.size());
    IndexedOutcome done;
    while ((*stream)->next(done) == ConversionStream::Status::Ready) slots[done.index] = std::move(done.outcome);
    std::vector<BookOutcome> outcomes;
    outcomes.reserve(paths.size());
    for (auto& slot : slots) outcomes.push_back(std::move(*slot));
    return outcomes;
}

}  // namespace quirelo
