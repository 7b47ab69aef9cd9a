#pragma once
// A fixed set of worker threads that run index-parallel jobs. Several callers may hand
// jobs to one pool at the same time; jobs are served in arrival order and each caller
// waits only for its own.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "model/error.hpp"

namespace quirelo {

// Upper bound on the threads of any one pool.
inline constexpr std::size_t MAX_POOL_THREADS = 65535;

// Number of logical processors, at least 1.
std::size_t default_pool_size();

// Starts one thread running `body`. Tests substitute one that fails on purpose; a
// launcher reports failure by throwing std::system_error, as std::thread does.
using ThreadLauncher = std::function<std::thread(std::function<void()>)>;

class WorkerPool {
public:
    // Starts `thread_count` threads (at least 1). When a thread cannot be started the
    // ones already running are stopped and joined, and the error is ErrorKind::PoolStart.
    static Result<std::unique_ptr<WorkerPool>> create(std::size_t thread_count, const ThreadLauncher& launch = {});

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    // Waits for queued jobs to finish, then joins every thread.
    ~WorkerPool();

    std::size_t thread_count() const { return threads_.size(); }

    // Calls task(i) once for every i in [0, count) on the pool's threads and returns when
    // all calls have finished. Workers take the next index from a shared counter, so a
    // slow index never holds back the others. Every index runs even if some throw; the
    // first exception is then rethrown here, on the calling thread. Must not be called
    // from one of this pool's own tasks.
    template <class Task>
    void for_each_index(std::size_t count, Task&& task) {
        using TaskType = std::remove_reference_t<Task>;
        run_job(count, const_cast<void*>(static_cast<const void*>(std::addressof(task))),
                [](void* context, std::size_t index) { (*static_cast<TaskType*>(context))(index); });
    }

private:
    using TaskInvoker = void (*)(void* context, std::size_t index);

    // One caller's job; it lives on the caller's stack until its last worker has left.
    struct Job {
        std::size_t count = 0;
        void* context = nullptr;
        TaskInvoker invoke = nullptr;
        std::atomic<std::size_t> next_index{0};
        // Guarded by the pool's mutex.
        std::size_t workers_inside = 0;
        bool finished = false;
        std::exception_ptr first_failure;
        std::condition_variable finished_signal;
    };

    WorkerPool() = default;
    void run_job(std::size_t count, void* context, TaskInvoker invoke);
    void work();
    void stop_and_join();

    std::mutex mutex_;
    std::condition_variable job_arrived_;
    std::deque<Job*> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// The process-wide pool of default size, started by the first call that needs it and
// kept for the life of the process. A failed start is reported and retried next time.
Result<WorkerPool*> shared_worker_pool();

}  // namespace quirelo
