#include "batch/parallel_map.hpp"

#include <algorithm>

namespace quirelo {

std::size_t dedicated_pool_size(std::uint64_t workers, std::size_t job_size) {
    const std::uint64_t wanted = workers == 0 ? default_pool_size() : workers;
    const std::uint64_t useful = std::max<std::size_t>(job_size, 1);
    return static_cast<std::size_t>(std::min<std::uint64_t>({wanted, MAX_POOL_THREADS, useful}));
}

Result<PoolLease> lease_pool(std::optional<std::uint64_t> workers, std::size_t job_size,
                             const ThreadLauncher& launch) {
    if (!workers) {
        auto shared = shared_worker_pool();
        if (!shared) return std::unexpected(std::move(shared.error()));
        return PoolLease(**shared);
    }
    auto owned = WorkerPool::create(dedicated_pool_size(*workers, job_size), launch);
    if (!owned) return std::unexpected(std::move(owned.error()));
    return PoolLease(std::move(*owned));
}

}  // namespace quirelo
