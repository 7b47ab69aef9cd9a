#pragma once
// What one read may keep: a total of decompressed bytes per book, set by the archive's
// size. A per-entry ratio cannot tell a bomb from honest zeros (both near 1030:1); a
// total per book can, since no honest book inflates to dozens of times its archive.
#include <atomic>
#include <cstdint>

namespace quirelo {

// The budget is max(READ_BUDGET_FLOOR, READ_BUDGET_RATIO x archive size). The floor lets
// one entry at MAX_ENTRY_SIZE be read from any archive; the largest ratio of a real book
// we have seen is 24.
inline constexpr std::uint64_t READ_BUDGET_FLOOR = 128ULL << 20;
inline constexpr std::uint64_t READ_BUDGET_RATIO = 64;

std::uint64_t read_budget_limit(std::uint64_t archive_size);

// Shared by every reader of one archive image (lazy loads may run on several threads).
class ReadBudget {
public:
    explicit ReadBudget(std::uint64_t archive_size) : limit_(read_budget_limit(archive_size)) {}
    ReadBudget(const ReadBudget&) = delete;
    ReadBudget& operator=(const ReadBudget&) = delete;

    // Takes bytes from what is left, before they are decompressed; false (and nothing
    // taken) when they do not fit.
    bool take(std::uint64_t bytes);
    // Returns bytes taken but not kept (an entry shorter than its buffer, or a failed read).
    void give_back(std::uint64_t bytes);

    std::uint64_t limit() const { return limit_; }

private:
    std::uint64_t limit_;
    std::atomic<std::uint64_t> used_{0};
};

}  // namespace quirelo
