// lagrange_prolongation: the sparse matrix taking nodal values on a coarse time grid to a fine one.
#pragma once

#include <cstdint>
#include <utility>

#include "linear_algebra/csr_matrix.hpp"
#include "linear_algebra/csr_rows.hpp"

namespace zelk::piecewise_polynomials {

// The rows of a prolongation that fine sub-intervals [k_begin, k_end) own:
// sub-interval k owns the rows of its nodes k * degree ... k * degree + degree - 1,
// and the last one also the end point nt_fine * degree. They are the global
// rows first_row ... first_row + nrows - 1 of the whole matrix, which has
// ncols = nt_coarse * degree + 1 columns; at most max_nnz = nrows * (degree + 1) entries.
struct ProlongationShape {
    std::uint64_t degree;
    std::uint64_t nt_coarse;
    std::uint64_t nt_fine;
    std::uint64_t first_row;
    std::uint64_t nrows;
    std::uint64_t ncols;
    std::uint64_t max_nnz;
};

// Faults, in this order: "Lagrange prolongation requires polynomial degree at
// least 1", "... at least one coarse interval", "... at least one fine
// interval"; then "capacity overflow" for sizes beyond 64 bits. The first form
// takes all nt_fine sub-intervals; the second faults unless
// k_begin <= k_end <= nt_fine.
ProlongationShape prolongation_shape(std::uint64_t degree, std::uint64_t nt_coarse, std::uint64_t nt_fine);
ProlongationShape prolongation_shape(std::uint64_t degree, std::uint64_t nt_coarse, std::uint64_t nt_fine,
                                     std::uint64_t k_begin, std::uint64_t k_end);

// The columns [first, second) that the shape's rows can touch, without
// computing any weight: from the first row's coarse sub-interval to the last
// row's. Empty (first == second) for no rows.
std::pair<std::uint64_t, std::uint64_t> prolongation_columns(const ProlongationShape& shape);

// Fills the shape's rows of the prolongation into `out` (offsets of
// shape.nrows + 1, room for shape.max_nnz entries) and returns the number of
// entries written. Each row depends on its global number alone, so the rows
// of any range are those of the whole matrix, bit for bit.
// Instantiated for uint64_t, int32_t and int64_t indices.
template <class Index>
std::uint64_t fill_prolongation_rows(const ProlongationShape& shape, const linear_algebra::CsrRows<Index>& out);

// The (nt_fine * degree + 1) x (nt_coarse * degree + 1) prolongation, built
// from the grid sizes alone: each fine Lagrange point is placed in a coarse
// sub-interval (a point on an inner boundary goes right) and the coarse
// polynomial is evaluated there in barycentric form. Exact zeros are not
// stored; a fine point within 1e-14 of a coarse node (reference coordinates)
// gives a single 1.0.
// Faults as prolongation_shape; std::bad_alloc before any filling.
linear_algebra::CsrMatrix lagrange_prolongation(std::uint64_t degree, std::uint64_t nt_coarse, std::uint64_t nt_fine);

}  // namespace zelk::piecewise_polynomials
