// The worker pool and parallel_map. read_epubs over them, slot by slot and in input order:
// test_batch.py and test_threads.py.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "batch/parallel_map.hpp"
#include "batch/worker_pool.hpp"

namespace {

using namespace quirelo;

// Starts real threads until `allowed` have started, then fails as std::thread would when
// the system is out of threads. Counts the bodies that have returned, to prove joins.
struct CountingLauncher {
    std::size_t allowed = std::numeric_limits<std::size_t>::max();
    std::atomic<std::size_t> started{0};
    std::atomic<std::size_t> exited{0};

    ThreadLauncher launcher() {
        return [this](std::function<void()> body) {
            if (started.load() >= allowed)
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            ++started;
            return std::thread([this, body = std::move(body)] {
                body();
                ++exited;
            });
        };
    }
};

// Waits, with a deadline, until `count` tasks are inside at once; true when they were.
bool rendezvous(std::atomic<int>& arrived, int count) {
    ++arrived;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (arrived.load() < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

TEST(BatchPool, VisitsEveryIndexExactlyOnce) {
    const std::pair<std::size_t, std::size_t> cases[] = {{1, 0}, {1, 100}, {3, 1000}, {8, 5}, {0, 10}};
    for (const auto& [threads, count] : cases) {
        auto pool = WorkerPool::create(threads);
        ASSERT_TRUE(pool.has_value()) << pool.error().message();
        EXPECT_EQ((*pool)->thread_count(), std::max<std::size_t>(threads, 1));
        std::vector<std::atomic<int>> visits(count);
        (*pool)->for_each_index(count, [&](std::size_t index) { ++visits[index]; });
        for (std::size_t index = 0; index < count; ++index) ASSERT_EQ(visits[index].load(), 1) << index << "/" << count;
    }
}

TEST(BatchPool, TaskExceptionReachesCallerAfterEveryIndexRan) {
    auto pool = WorkerPool::create(2);
    ASSERT_TRUE(pool.has_value());
    std::vector<std::atomic<int>> visits(6);
    const auto task = [&](std::size_t index) {
        ++visits[index];
        if (index == 1 || index == 3) throw std::runtime_error("task");
    };
    EXPECT_THROW((*pool)->for_each_index(6, task), std::runtime_error);
    for (auto& visit : visits) EXPECT_EQ(visit.load(), 1);
    // The pool survives a failed job.
    std::atomic<int> later{0};
    (*pool)->for_each_index(4, [&](std::size_t) { ++later; });
    EXPECT_EQ(later.load(), 4);
}

TEST(BatchPool, ForkedChildGetsAWorkingSharedPool) {
    auto parent_pool = shared_worker_pool();
    ASSERT_TRUE(parent_pool.has_value());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The parent's workers do not exist here; a hang ends the child with SIGALRM.
        alarm(20);
        auto mapped = parallel_map(100, std::nullopt, [](std::size_t index) { return index; });
        const bool right = mapped && mapped->size() == 100 && (*mapped)[99] == 99;
        _exit(right ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// An empty input starts no thread at all.
TEST(BatchMap, DedicatedPoolStartsAtMostOneThreadPerIndexAndJoinsThem) {
    const std::size_t cases[][3] = {
        {1, 50, 1}, {5, 3, 3}, {0, 1000, std::min<std::size_t>(default_pool_size(), 1000)}, {7, 0, 0}};
    for (const auto& [workers, count, expected_threads] : cases) {
        CountingLauncher launch;
        std::mutex mutex;
        std::set<std::thread::id> seen;
        const auto note_thread = [&](std::size_t index) {
            std::lock_guard lock(mutex);
            seen.insert(std::this_thread::get_id());
            return index;
        };
        auto mapped = parallel_map(count, std::uint64_t{workers}, note_thread, launch.launcher());
        ASSERT_TRUE(mapped.has_value());
        EXPECT_EQ(mapped->size(), count);
        EXPECT_EQ(launch.started.load(), expected_threads);
        EXPECT_LE(seen.size(), expected_threads);
        EXPECT_FALSE(seen.contains(std::this_thread::get_id())) << "work ran on the calling thread";
        EXPECT_EQ(launch.exited.load(), expected_threads);  // joined before the call returns
    }
}

TEST(BatchMap, DedicatedPoolSizeRule) {
    const std::size_t processors = default_pool_size();
    const struct {
        std::uint64_t workers;
        std::size_t job_size, threads;
    } cases[] = {{0, 1000000, processors},  {0, 1, 1},          {3, 2, 2},
                 {65535, 1000000, 65535},   {65536, 1000000, 65535},
                 {std::numeric_limits<std::uint64_t>::max(), 7, 7}, {std::uint64_t{1} << 32, 1000000, 65535}};
    for (const auto& c : cases)
        EXPECT_EQ(dedicated_pool_size(c.workers, c.job_size), c.threads)
            << "workers " << c.workers << ", job " << c.job_size;
}

TEST(BatchMap, TwoWorkersRunTwoIndexesAtOnce) {
    std::atomic<int> arrived{0};
    auto mapped = parallel_map(2, std::uint64_t{2}, [&](std::size_t) { return rendezvous(arrived, 2) ? 1 : 0; });
    ASSERT_TRUE(mapped.has_value());
    EXPECT_TRUE((*mapped)[0] && (*mapped)[1]) << "the two indexes never ran concurrently";
}

class StartFailure : public ::testing::TestWithParam<std::size_t> {};

TEST_P(StartFailure, ReportsJoinsStartedThreadsAndComputesNothing) {
    CountingLauncher launch;
    launch.allowed = GetParam();
    std::atomic<int> computed{0};
    auto mapped = parallel_map(10, std::uint64_t{4}, [&](std::size_t) { return ++computed; }, launch.launcher());
    ASSERT_FALSE(mapped.has_value());
    EXPECT_TRUE(mapped.error().message().starts_with("Failed to build thread pool")) << mapped.error().message();
    EXPECT_EQ(computed.load(), 0);
    EXPECT_EQ(launch.started.load(), GetParam());
    // Every thread that did start has been joined: its body has returned.
    EXPECT_EQ(launch.exited.load(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Batch, StartFailure, ::testing::Values(0, 1, 3));

}  // namespace
