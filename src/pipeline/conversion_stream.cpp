#include "pipeline/conversion_stream.hpp"

#include <algorithm>
#include <new>
#include <system_error>
#include <utility>

namespace quirelo {

Result<std::unique_ptr<ConversionStream>> ConversionStream::start(std::vector<std::string> paths,
                                                                  std::vector<BookFiles> files,
                                                                  ConversionOptions options,
                                                                  StreamSettings settings) {
    if (!files.empty() && files.size() != paths.size()) files.resize(paths.size());
    const std::size_t count = paths.size();
    auto lease = lease_pool(settings.workers, std::max<std::size_t>(count, 1), settings.launch);
    if (!lease) return std::unexpected(std::move(lease.error()));
    const std::size_t threads = lease->pool().thread_count();
    const std::size_t window = std::max<std::size_t>(settings.window == 0 ? 2 * threads : settings.window, 1);
    std::unique_ptr<ConversionStream> stream(new ConversionStream(std::move(paths), std::move(files),
                                                                  std::move(options), std::move(settings),
                                                                  std::move(*lease), window));
    if (count == 0) {
        stream->job_ended_ = true;
        return stream;
    }
    try {
        stream->coordinator_ = std::thread([raw = stream.get()] { raw->convert_all(); });
    } catch (const std::system_error& error) {
        return fail(ErrorKind::PoolStart, error.what());
    }
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

void ConversionStream::convert_all() {
    std::exception_ptr caught;
    try {
        lease_.pool().for_each_index(paths_.size(), [this](std::size_t index) { convert_one(index); });
    } catch (...) {
        caught = std::current_exception();
    }
    const std::lock_guard lock(mutex_);
    failure_ = caught;
    job_ended_ = true;
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
    static const BookFiles no_files;
    IndexedOutcome done{index, convert_book(paths_[index], options_, files_.empty() ? no_files : files_[index],
                                            settings_.write_file)};
    const bool fault = !done.outcome && done.outcome.error().kind == FailureKind::OutputFault;
    const std::lock_guard lock(mutex_);
    ready_.push_back(std::move(done));
    if (fault) {
        cancelled_ = true;
        slot_free_.notify_all();
    }
    book_done_.notify_all();
}

ConversionStream::Status ConversionStream::next(IndexedOutcome& out, std::chrono::milliseconds patience) {
    std::unique_lock lock(mutex_);
    const auto has_news = [&] { return !ready_.empty() || job_ended_; };
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
