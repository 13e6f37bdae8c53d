// Locating a time t on the grid of n_t equal sub-intervals of [0, T]: its sub-interval and local coordinate.
#pragma once

#include <cstdint>
#include <limits>

namespace zelk::piecewise_polynomials {

// ⌊q⌋ as an unsigned 64-bit integer, saturating: negative values and NaN give
// 0, values from 2^64 up (+inf included) give 2^64 - 1. A plain cast is
// undefined there, and on x86 sends +inf to sub-interval 0.
inline std::uint64_t saturating_floor_to_u64(double q) noexcept
{
    constexpr double two_to_64 = 18446744073709551616.0;
    if (!(q >= 0.0)) return 0;  // negative or NaN
    if (q >= two_to_64) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(q);  // truncation is the floor for q >= 0
}

struct GridLocation {
    double h;         // sub-interval length T / n_t
    std::uint64_t k;  // sub-interval index, always below n_t
    double x;         // local coordinate in [-1, 1], or NaN
};

// Where t lies on the grid of sub-interval length h = T / n_t; n_t must be at
// least 1. Every step keeps its operand order, since the last bit of x is part
// of the results' contract.
inline GridLocation locate_time_with_length(double h, std::uint64_t n_t, double t) noexcept
{
    const double q = t / h;
    const std::uint64_t k0 = saturating_floor_to_u64(q);
    // Times before 0 already give k0 = 0, so only the top needs a clamp.
    const std::uint64_t k = k0 < n_t ? k0 : n_t - 1;
    const double left = h * static_cast<double>(k);
    const double right = h + left;  // not h * (k + 1): they can differ in the last bit
    const double s = left + right;
    const double d = t - s / 2.0;
    double x = (d + d) / (right - left);  // the computed width, not h
    if (x < -1.0) {
        x = -1.0;
    } else if (x > 1.0) {
        x = 1.0;
    }  // NaN passes unchanged
    return GridLocation{h, k, x};
}

// The same, computing h = T / n_t first.
inline GridLocation locate_time(double T, std::uint64_t n_t, double t) noexcept
{
    return locate_time_with_length(T / static_cast<double>(n_t), n_t, t);
}

}  // namespace zelk::piecewise_polynomials
