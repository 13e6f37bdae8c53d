// Locating a time t on the grid of n_t equal sub-intervals of [0, T]: its sub-interval and local coordinate.
#pragma once

#include <cmath>
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

// The local coordinate of the steps above, taken on halved operands for a
// sub-interval [left, h + left] where left + right overflows (only for T
// beyond half the largest double). Halving is exact there, and
// (d + d) / (right - left) = d / ((right - left) / 2), so this is the value
// the steps give with an unbounded exponent: the same bits wherever both are finite.
inline double halved_coordinate(double h, double left, double t) noexcept
{
    const double half_left = left * 0.5;
    const double half_right = h * 0.5 + half_left;
    const double d = t - (half_left + half_right);
    double x = d / (half_right - half_left);
    if (x < -1.0) {
        x = -1.0;
    } else if (x > 1.0) {
        x = 1.0;
    }
    return x;
}

// zelk_arrays' locating: locate_time_with_length, bit for bit, except where its
// midpoint overflows; there the halved steps give the true coordinate.
inline GridLocation locate_time_unbounded(double h, std::uint64_t n_t, double t) noexcept
{
    GridLocation at = locate_time_with_length(h, n_t, t);
    const double left = h * static_cast<double>(at.k);
    if (std::isinf(left + (h + left))) [[unlikely]] {
        at.x = halved_coordinate(h, left, t);
    }
    return at;
}

// The same, computing h = T / n_t first.
inline GridLocation locate_time(double T, std::uint64_t n_t, double t) noexcept
{
    return locate_time_with_length(T / static_cast<double>(n_t), n_t, t);
}

}  // namespace zelk::piecewise_polynomials
