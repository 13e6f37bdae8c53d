// The time mass matrix on a grid of any points: each entry the exact integral, rounded once.
#pragma once

#include <cstdint>
#include <span>

#include "linear_algebra/csr_rows.hpp"
#include "time_operators/time_operator_rows.hpp"

namespace zelk::time_operators {

// The shape of the mass rows of [k_begin, k_end) on the n_t = points.size() - 1
// sub-intervals of a grid: the rows, columns and pattern of the uniform grid
// of as many sub-intervals (which exact zeros do not depend on the steps).
// Faults as time_operator_shape, and "a grid needs at least two points".
TimeOperatorShape grid_mass_shape(const LocalBasis& trial, const LocalBasis& test, std::span<const double> points,
                                  std::uint64_t k_begin, std::uint64_t k_end);

// Which Legendre spaces of a pair number k (degree + 1) + i instead of i n_t + k.
struct GridLayout {
    bool trial = false;
    bool test = false;
};

// Writes the rows and returns the entry count. Entry (i, j) is the integral of
// u_j v_i over the grid: on each sub-interval the reference integral times
// h_k = t_{k+1} - t_k taken exactly, the (at most two) sub-intervals' shares
// summed in double-double and rounded once. With an interval-major layout the
// rows and columns are renumbered, the values the same bits. Faults if a
// flagged space is not a Legendre space. Polls for interrupts.
template <class Index>
std::uint64_t fill_grid_mass_rows(const TimeOperatorShape& shape, std::span<const double> points, GridLayout layout,
                                  const linear_algebra::CsrRows<Index>& out);

}  // namespace zelk::time_operators
