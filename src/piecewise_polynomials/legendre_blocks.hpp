// What the dispatched Legendre loops share: the block size, the checks, and locating a block of times.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "fault/fault.hpp"
#include "linear_algebra/dense_matrix.hpp"
#include "piecewise_polynomials/time_grid_location.hpp"
#include "vector_units/vector_level.hpp"

namespace zelk::piecewise_polynomials {

// Times are handled this many at a time: each step of the recurrence runs
// over the block in one loop (see legendre_kernels.hpp), and the scratch of a
// block stays in the first-level cache.
constexpr std::size_t block_size = 64;

// Below 2^53 every sub-interval index is a double exactly.
constexpr std::uint64_t exact_integers = std::uint64_t{1} << 53;

inline void require_intervals(std::uint64_t n_t)
{
    if (n_t == 0) [[unlikely]] {
        fail("Legendre evaluation requires at least one time interval");
    }
}

// Only row k and columns 0 ... degree are read; a larger table is fine.
inline void check_table(const linear_algebra::DenseMatrixView& table, std::uint64_t k, std::uint64_t degree)
{
    if (table.nrows() <= k) [[unlikely]] {
        fail("Matrix slicing out of bounds.");
    }
    if (table.ncols() <= degree) [[unlikely]] {
        fail("Matrix index out of bounds.");
    }
}

// k and x of locate_time_unbounded for one time, in arithmetic that
// vectorises: the saturating floor and the clamp to n_t - 1 become a clamp of
// q = t / h to [0, n_t - 1] (NaN to 0) and a truncation, which pick the same
// k whenever n_t - 1 is a double exactly. Index is wide enough for n_t - 1.
// Exact only where h * n_t < 2^1022 (see no_overflow); locate_block mends the rest.
template <class Index>
ZELK_KERNEL void locate_lane(double h, double last, double t, Index& k, double& x)
{
    const double q = t / h;
    double clamped = q >= 0.0 ? q : 0.0;
    clamped = clamped < last ? clamped : last;
    const Index kr = static_cast<Index>(clamped);
    const double left = h * static_cast<double>(kr);
    const double right = h + left;  // not h * (k + 1): they can differ in the last bit
    const double s = left + right;
    const double d = t - s / 2.0;
    double xr = (d + d) / (right - left);  // the computed width, not h
    xr = xr < -1.0 ? -1.0 : xr;
    xr = xr > 1.0 ? 1.0 : xr;  // NaN passes unchanged
    k = kr;
    x = xr;
}

// Whether no midpoint left + right of the grid overflows.
inline bool no_overflow(double h, double last)
{
    return std::fabs(h) * (last + 1.0) < 0x1p1022;
}

// locate_lane for each time of a block.
template <class Index>
ZELK_KERNEL void locate_block(double h, double last, const double* times, std::size_t n, Index* k, double* x)
{
    for (std::size_t r = 0; r < n; ++r) locate_lane(h, last, times[r], k[r], x[r]);
    // Grids beyond half the largest double: the midpoints that overflowed
    // are taken from halves, as locate_time_unbounded does.
    if (!no_overflow(h, last)) {
        for (std::size_t r = 0; r < n; ++r) {
            const double left = h * static_cast<double>(k[r]);
            if (std::isinf(left + (h + left))) x[r] = halved_coordinate(h, left, times[r]);
        }
    }
}

// Whether every lane of a located block lies in one sub-interval (as for
// most blocks of sorted times). Random times differ at once, so the scan
// stops at the first difference.
template <class Index>
ZELK_KERNEL bool one_interval(const Index* k, std::size_t n)
{
    for (std::size_t r = 1; r < n; ++r) {
        if (k[r] != k[0]) return false;
    }
    return true;
}

}  // namespace zelk::piecewise_polynomials
