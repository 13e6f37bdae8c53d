// Transfers between spaces on two different time grids over the same span: interpolation at the target's nodes,
// and the L2 projection onto a discontinuous target, integrated exactly over the overlaps of the two grids.
#pragma once

#include <cstdint>
#include <span>

#include "linear_algebra/csr_rows.hpp"

namespace zelk::time_operators {

// One side of a transfer. Lagrange: `family` 0 equispaced, 1 + the quadrature
// rule's code, numbered k degree + j when continuous, else k (degree + 1) + j.
// Legendre: j n_t + k, or k (degree + 1) + j when interval_major.
struct TransferSpace {
    bool legendre;
    std::uint64_t degree;
    std::uint64_t family;
    bool continuous;
    bool interval_major;
};

enum class Transfer : std::uint8_t { interpolation, projection };

struct TransferShape {
    Transfer kind;
    TransferSpace source;
    TransferSpace target;
    std::uint64_t source_intervals;
    std::uint64_t target_intervals;
    std::uint64_t nrows;
    std::uint64_t ncols;
    std::uint64_t max_nnz;
    // Projection: the source columns all target sub-intervals reach, summed.
    std::uint64_t reached_columns;
};

// Checks the grids (same first and last point, at least one interval each)
// and the spaces, and sizes the result without touching anything per entry
// but one merge of the two point arrays. Faults: "time grid requires at
// least one interval", "the two grids must cover the same span",
// "interpolation needs a Lagrange target", "projection onto a continuous
// Lagrange space needs a global solve", "capacity overflow".
TransferShape transfer_shape(Transfer kind, const TransferSpace& source, const TransferSpace& target,
                             std::span<const double> source_points, std::span<const double> target_points);

// Writes the rows and returns the entry count; exact zeros are not stored.
// Interpolation: row r is target node r, whose exact time (the family's node
// on its sub-interval) is located in one source sub-interval, the one on its
// right where it lies on a source grid point, but the one on its left where
// it is the right end of its own sub-interval; each value is the source
// function there, evaluated in double-double and rounded once.
// Projection: the L2 projection onto the target's Legendre polynomials of each
// sub-interval, (2i + 1) / h_k times the integral of u_j P_i over each overlap,
// summed over the overlaps and rounded once; a discontinuous Lagrange target
// then takes the projection's values at its nodes. Polls for interrupts.
template <class Index>
std::uint64_t fill_transfer_rows(const TransferShape& shape, std::span<const double> source_points,
                                 std::span<const double> target_points, const linear_algebra::CsrRows<Index>& out);

}  // namespace zelk::time_operators
