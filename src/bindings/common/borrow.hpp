#pragma once
// The per-object borrow flag: any number of shared borrows or one exclusive borrow.
// A conflicting borrow fails at once; nothing waits.
#include <atomic>
#include <cstdint>

namespace quirelo::py {

class BorrowFlag {
public:
    bool try_shared() {
        std::uint64_t current = state_.load(std::memory_order_relaxed);
        do {
            if (current == EXCLUSIVE) return false;
        } while (!state_.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                               std::memory_order_relaxed));
        return true;
    }
    void release_shared() { state_.fetch_sub(1, std::memory_order_release); }

    bool try_exclusive() {
        std::uint64_t expected = 0;
        return state_.compare_exchange_strong(expected, EXCLUSIVE, std::memory_order_acquire,
                                              std::memory_order_relaxed);
    }
    void release_exclusive() { state_.store(0, std::memory_order_release); }

private:
    static constexpr std::uint64_t EXCLUSIVE = ~std::uint64_t{0};
    std::atomic<std::uint64_t> state_{0};
};

// Raises RuntimeError("Already mutably borrowed") when it cannot borrow.
class SharedBorrow {
public:
    explicit SharedBorrow(BorrowFlag& flag);
    ~SharedBorrow() {
        if (held_) flag_.release_shared();
    }
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;
    explicit operator bool() const { return held_; }

private:
    BorrowFlag& flag_;
    bool held_;
};

// Raises RuntimeError("Already borrowed") when it cannot borrow.
class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(BorrowFlag& flag);
    ~ExclusiveBorrow() {
        if (held_) flag_.release_exclusive();
    }
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
    explicit operator bool() const { return held_; }

private:
    BorrowFlag& flag_;
    bool held_;
};

}  // namespace quirelo::py
