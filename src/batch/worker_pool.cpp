#include "batch/worker_pool.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <system_error>
#include <utility>

namespace quirelo {

std::size_t default_pool_size() {
    const std::size_t processors = std::thread::hardware_concurrency();
    return std::clamp<std::size_t>(processors, 1, MAX_POOL_THREADS);
}

Result<std::unique_ptr<WorkerPool>> WorkerPool::create(std::size_t thread_count, const ThreadLauncher& launch) {
    thread_count = std::clamp<std::size_t>(thread_count, 1, MAX_POOL_THREADS);
    std::unique_ptr<WorkerPool> pool(new WorkerPool());
    pool->threads_.reserve(thread_count);
    auto body = [raw = pool.get()] { raw->work(); };
    for (std::size_t started = 0; started < thread_count; ++started) {
        try {
            pool->threads_.push_back(launch ? launch(body) : std::thread(body));
        } catch (const std::system_error& failure) {
            pool->stop_and_join();
            return fail(ErrorKind::PoolStart, failure.what());
        } catch (const std::bad_alloc&) {
            pool->stop_and_join();
            return fail(ErrorKind::PoolStart, "out of memory");
        }
    }
    return pool;
}

WorkerPool::~WorkerPool() { stop_and_join(); }

void WorkerPool::stop_and_join() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    job_arrived_.notify_all();
    for (std::thread& thread : threads_) {
        if (thread.joinable()) thread.join();
    }
    threads_.clear();
}

void WorkerPool::run_job(std::size_t count, void* context, TaskInvoker invoke) {
    if (count == 0) return;
    Job job;
    job.count = count;
    job.context = context;
    job.invoke = invoke;
    std::unique_lock lock(mutex_);
    queue_.push_back(&job);
    job_arrived_.notify_all();
    // The last worker to leave the job signals while holding the mutex, so once the wait
    // returns no worker touches `job` again and it may go out of scope.
    job.finished_signal.wait(lock, [&] { return job.finished; });
    lock.unlock();
    if (job.first_failure) std::rethrow_exception(job.first_failure);
}

void WorkerPool::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        job_arrived_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        // Queued jobs are drained before a stopping pool lets its threads go.
        if (queue_.empty()) return;
        Job* job = queue_.front();
        ++job->workers_inside;
        lock.unlock();

        std::exception_ptr failure;
        for (;;) {
            const std::size_t index = job->next_index.fetch_add(1, std::memory_order_relaxed);
            if (index >= job->count) break;
            try {
                job->invoke(job->context, index);
            } catch (...) {
                if (!failure) failure = std::current_exception();
            }
        }

        lock.lock();
        if (failure && !job->first_failure) job->first_failure = std::move(failure);
        // Every index has been claimed: no newcomer may join. A job can only be left
        // while it is at the front, or after an earlier leaver removed it.
        if (!queue_.empty() && queue_.front() == job) queue_.pop_front();
        if (--job->workers_inside == 0) {
            job->finished = true;
            job->finished_signal.notify_one();
        }
    }
}

namespace {

// The shared pool together with the process that started its threads. A child made by
// fork() inherits the record but none of the threads, so it must start its own pool
// rather than queue work that nobody will take.
struct SharedPool {
    std::unique_ptr<WorkerPool> pool;
    pid_t owner;
    // A parent's record, kept reachable but never destroyed: joining would wait for
    // threads that do not exist in this process.
    SharedPool* inherited;
};

}  // namespace

Result<WorkerPool*> shared_worker_pool() {
    // Never destroyed: the pool lives until the process ends, so no static destructor can
    // pull it from under a batch still running on another thread at exit. No lock either,
    // so that a fork() in the middle of creation cannot leave the child waiting forever.
    static std::atomic<SharedPool*> shared{nullptr};
    SharedPool* current = shared.load(std::memory_order_acquire);
    const pid_t self = ::getpid();
    while (current == nullptr || current->owner != self) {
        auto created = WorkerPool::create(default_pool_size());
        if (!created) return std::unexpected(std::move(created.error()));
        auto record = std::make_unique<SharedPool>(SharedPool{std::move(*created), self, current});
        if (shared.compare_exchange_strong(current, record.get(), std::memory_order_acq_rel)) {
            return record.release()->pool.get();
        }
        // Another thread published first; `current` now holds its record, and ours is
        // joined and freed on the way out of this iteration.
    }
    return current->pool.get();
}

}  // namespace quirelo
