// Time operator rows in the interval-major Legendre numbering: the polynomial-major entries at renumbered places.
#pragma once

#include <span>

#include "linear_algebra/block_counts.hpp"
#include "linear_algebra/csr_rows.hpp"
#include "time_operators/grid_mass_rows.hpp"
#include "time_operators/time_operator_rows.hpp"

namespace zelk::time_operators {

// Which Legendre spaces of a pair number k (degree + 1) + i instead of i n_t + k.
using IntervalMajor = GridLayout;

// Writes the rows of `shape` (points: the grid's points for a mass matrix on
// a grid of any points, else empty) in the numbering `layout` asks for:
// the entries of the polynomial-major build, bit for bit, at the renumbered
// rows and columns, columns ascending. Returns the entry count. Faults if a
// flagged space is not a Legendre space.
template <class Index>
std::uint64_t fill_interval_major_rows(const TimeOperatorShape& shape, std::span<const double> points,
                                       IntervalMajor layout, const linear_algebra::CsrRows<Index>& out);

// The rows fill_interval_major_rows writes, counted inside and outside a
// column block from the same renumbered patterns, without writing them. With
// points (a mass matrix on a grid of any points; `shape` from grid_mass_shape)
// the pattern is the uniform one, which the grid's fill keeps whatever the steps.
void count_interval_major_rows(const TimeOperatorShape& shape, IntervalMajor layout,
                               linear_algebra::BlockCounts& counts);

}  // namespace zelk::time_operators
