#pragma once
// Mapping the indexes 0..count-1 to values on a worker pool chosen per call.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "batch/worker_pool.hpp"

namespace quirelo {

// The pool one call runs on: either the shared pool, or one it owns and joins when the
// lease ends.
class PoolLease {
public:
    explicit PoolLease(WorkerPool& shared) : pool_(&shared) {}
    explicit PoolLease(std::unique_ptr<WorkerPool> owned) : owned_(std::move(owned)), pool_(owned_.get()) {}
    WorkerPool& pool() const { return *pool_; }

private:
    std::unique_ptr<WorkerPool> owned_;
    WorkerPool* pool_;
};

// Threads of a new pool for `workers` (0 = default size), at most MAX_POOL_THREADS and
// never more than the job has indexes: a thread with no index to take would only cost
// start-up time and memory.
std::size_t dedicated_pool_size(std::uint64_t workers, std::size_t job_size);

// workers: nothing = the shared pool; a number = a new pool of dedicated_pool_size threads.
// `launch` starts the threads of a new pool (the shared pool always uses std::thread).
Result<PoolLease> lease_pool(std::optional<std::uint64_t> workers, std::size_t job_size,
                             const ThreadLauncher& launch = {});

// results[i] = compute(i) for every index, each computed exactly once on the chosen pool,
// in a vector allocated once. Fails (ErrorKind::PoolStart) only when the pool cannot be
// started; then nothing is computed.
template <class Compute>
auto parallel_map(std::size_t count, std::optional<std::uint64_t> workers, Compute&& compute,
                  const ThreadLauncher& launch = {})
    -> Result<std::vector<std::invoke_result_t<Compute&, std::size_t>>> {
    using Value = std::invoke_result_t<Compute&, std::size_t>;
    static_assert(!std::is_same_v<Value, bool>, "std::vector<bool> packs slots into shared words; return int");
    if (count == 0) return std::vector<Value>();
    auto lease = lease_pool(workers, count, launch);
    if (!lease) return std::unexpected(std::move(lease.error()));
    std::vector<Value> results(count);
    // Each slot is written by the one worker that claimed its index, so slots need no lock.
    lease->pool().for_each_index(count, [&](std::size_t index) { results[index] = compute(index); });
    return results;
}

}  // namespace quirelo
