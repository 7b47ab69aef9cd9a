#include "pipeline/convert_many.hpp"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "batch/parallel_map.hpp"

namespace quirelo {

Result<void> convert_many_in_order(const std::vector<std::string>& paths, std::optional<std::uint64_t> workers,
                                   const ConversionOptions& options, const DeliverOutcome& deliver,
                                   const ThreadLauncher& launch) {
    const std::size_t count = paths.size();
    if (count == 0) return {};
    auto lease = lease_pool(workers, count, launch);
    if (!lease) return std::unexpected(std::move(lease.error()));

    // Guarded by `mutex`: which books are done, their outcomes until delivered, and the end.
    std::mutex mutex;
    std::condition_variable book_done;
    std::vector<std::optional<BookOutcome>> outcomes(count);
    bool all_done = false;
    std::exception_ptr failure;
    const auto convert_all = [&] {
        std::exception_ptr caught;
        try {
            lease->pool().for_each_index(count, [&](std::size_t index) {
                BookOutcome outcome = convert_book(paths[index], options);
                const std::lock_guard lock(mutex);
                outcomes[index] = std::move(outcome);
                book_done.notify_one();
            });
        } catch (...) {
            caught = std::current_exception();
        }
        const std::lock_guard lock(mutex);
        failure = caught;
        all_done = true;
        book_done.notify_one();
    };
    // The pool's job blocks its caller, so a coordinating thread hands it over while this
    // thread delivers; declared after everything it uses, it is joined first on any exit.
    std::jthread coordinator;
    try {
        coordinator = std::jthread(convert_all);
    } catch (const std::system_error& error) {
        return fail(ErrorKind::PoolStart, error.what());
    }
    for (std::size_t index = 0; index < count; ++index) {
        std::optional<BookOutcome> outcome;
        {
            std::unique_lock lock(mutex);
            book_done.wait(lock, [&] { return outcomes[index].has_value() || all_done; });
            if (!outcomes[index]) break;  // the job ended without this book: its failure follows
            outcome.swap(outcomes[index]);
        }
        deliver(index, std::move(*outcome));
    }
    coordinator.join();
    if (failure) std::rethrow_exception(failure);
    return {};
}

Result<std::vector<BookOutcome>> convert_many(const std::vector<std::string>& paths,
                                               std::optional<std::uint64_t> workers,
                                               const ConversionOptions& options,
                                               const ThreadLauncher& launch) {
    std::vector<BookOutcome> outcomes;
    outcomes.reserve(paths.size());
    const auto converted = convert_many_in_order(
        paths, workers, options, [&](std::size_t, BookOutcome&& outcome) { outcomes.push_back(std::move(outcome)); },
        launch);
    if (!converted) return std::unexpected(converted.error());
    return outcomes;
}

}  // namespace quirelo
