// Shared and exclusive holds on an instance's borrow counter, released by their destructors.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>

#include "call/python_error.hpp"

namespace zelk::call {

// 0: free; n > 0: n shared holds; -1: one exclusive hold.
using BorrowCounter = std::atomic<std::int64_t>;

class SharedHold {
public:
    explicit SharedHold(BorrowCounter& counter) : counter_(counter)
    {
        std::int64_t current = counter_.load(std::memory_order_relaxed);
        do {
            if (current == -1) throw_error(PyExc_RuntimeError, "Already mutably borrowed");
        } while (!counter_.compare_exchange_weak(current, current + 1, std::memory_order_acq_rel,
                                                 std::memory_order_relaxed));
    }
    SharedHold(const SharedHold&) = delete;
    SharedHold& operator=(const SharedHold&) = delete;
    ~SharedHold() { counter_.fetch_sub(1, std::memory_order_release); }

private:
    BorrowCounter& counter_;
};

class ExclusiveHold {
public:
    explicit ExclusiveHold(BorrowCounter& counter) : counter_(counter)
    {
        std::int64_t expected = 0;
        if (!counter_.compare_exchange_strong(expected, -1, std::memory_order_acq_rel, std::memory_order_relaxed))
            throw_error(PyExc_RuntimeError, "Already borrowed");
    }
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;
    ~ExclusiveHold() { counter_.store(0, std::memory_order_release); }

private:
    BorrowCounter& counter_;
};

}  // namespace zelk::call
