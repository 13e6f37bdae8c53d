// Overflow-checked sizes for storage whose length comes from user input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <source_location>
#include <vector>

#include "fault/allocation_failure.hpp"
#include "fault/fault.hpp"
#include "fault/memory_limit.hpp"

namespace zelk {

static_assert(sizeof(std::size_t) == sizeof(std::uint64_t), "the core assumes a 64-bit address space");

inline constexpr const char* capacity_overflow = "capacity overflow";

// a + b and a * b in 64 bits, true where the exact result does not fit.
constexpr bool add_overflows(std::uint64_t a, std::uint64_t b, std::uint64_t& sum) noexcept
{
    sum = a + b;  // unsigned: wraps, and wrapped exactly when the sum is smaller
    return sum < a;
}

constexpr bool mul_overflows(std::uint64_t a, std::uint64_t b, std::uint64_t& product) noexcept
{
    product = a * b;
    return a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a;
}

inline std::uint64_t checked_add(std::uint64_t a, std::uint64_t b,
                                 std::source_location where = std::source_location::current())
{
    std::uint64_t sum;
    if (add_overflows(a, b, sum)) fail(capacity_overflow, where);
    return sum;
}

inline std::uint64_t checked_mul(std::uint64_t a, std::uint64_t b,
                                 std::source_location where = std::source_location::current())
{
    std::uint64_t product;
    if (mul_overflows(a, b, product)) fail(capacity_overflow, where);
    return product;
}

// A length of n elements of T whose byte size fits the address space
// (at most PTRDIFF_MAX bytes); anything larger is a "capacity overflow".
template <class T>
std::size_t checked_length(std::uint64_t n, std::source_location where = std::source_location::current())
{
    constexpr std::uint64_t max_elements = static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()) /
                                           sizeof(T);
    if (n > max_elements) fail(capacity_overflow, where);
    return static_cast<std::size_t>(n);
}

// Requests below this size are left to the allocator: they cannot exhaust a
// machine, and skipping the limit keeps small calls free of its cost.
inline constexpr std::uint64_t unchecked_request_bytes = std::uint64_t{1} << 20;

// Throws AllocationFailure (a std::bad_alloc) for a request of `bytes` more than memory_limit().
// An overcommitting kernel would hand such a request out and the process
// would die while filling it, and an address-space limit would fail it only
// half-way through the work; this way it fails at once.
inline void require_bytes(std::uint64_t bytes)
{
    if (bytes >= unchecked_request_bytes && bytes > memory_limit()) throw AllocationFailure(bytes);
}

// The same for `count` elements of `size` bytes.
inline void require_memory(std::uint64_t count, std::uint64_t size)
{
    std::uint64_t bytes;
    if (mul_overflows(count, size, bytes)) throw AllocationFailure(bytes, true);
    require_bytes(bytes);
}

// An empty vector with room for n elements, so that an impossible size fails
// here at once (capacity overflow, or std::bad_alloc) and not while filling.
template <class T>
std::vector<T> reserved_vector(std::uint64_t n, std::source_location where = std::source_location::current())
{
    std::vector<T> v;
    const std::size_t length = checked_length<T>(n, where);
    require_memory(length, sizeof(T));
    try {
        v.reserve(length);
    } catch (const std::bad_alloc&) {
        throw AllocationFailure(length * sizeof(T));  // checked_length bounds the product
    }
    return v;
}

}  // namespace zelk
