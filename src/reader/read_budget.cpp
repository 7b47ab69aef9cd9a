#include "reader/read_budget.hpp"

#include <algorithm>
#include <limits>

namespace quirelo {

std::uint64_t read_budget_limit(std::uint64_t archive_size) {
    const std::uint64_t most = std::numeric_limits<std::uint64_t>::max() / READ_BUDGET_RATIO;
    return std::max(READ_BUDGET_FLOOR, std::min(archive_size, most) * READ_BUDGET_RATIO);
}

bool ReadBudget::take(std::uint64_t bytes) {
    std::uint64_t used = used_.load(std::memory_order_relaxed);
    do {
        if (bytes > limit_ - used) return false;
    } while (!used_.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
    return true;
}

void ReadBudget::give_back(std::uint64_t bytes) { used_.fetch_sub(bytes, std::memory_order_relaxed); }

}  // namespace quirelo
