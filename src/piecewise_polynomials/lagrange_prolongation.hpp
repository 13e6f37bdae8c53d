// lagrange_prolongation: the sparse matrix taking nodal values on a coarse time grid to a fine one.
#pragma once

#include <cstdint>

#include "linear_algebra/csr_matrix.hpp"
#include "linear_algebra/csr_rows.hpp"

namespace zelk::piecewise_polynomials {

// The sizes of a prolongation: nrows = nt_fine * degree + 1 rows,
// ncols = nt_coarse * degree + 1 columns, at most max_nnz = nrows * (degree + 1) entries.
struct ProlongationShape {
    std::uint64_t degree;
    std::uint64_t nt_coarse;
    std::uint64_t nt_fine;
    std::uint64_t nrows;
    std::uint64_t ncols;
    std::uint64_t max_nnz;
};

// Faults, in this order: "Lagrange prolongation requires polynomial degree at
// least 1", "... at least one coarse interval", "... at least one fine
// interval"; then "capacity overflow" for sizes beyond 64 bits.
ProlongationShape prolongation_shape(std::uint64_t degree, std::uint64_t nt_coarse, std::uint64_t nt_fine);

// Fills the rows of the prolongation into `out` (offsets of shape.nrows + 1,
// room for shape.max_nnz entries) and returns the number of entries written.
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
linear_algebra::CsrMatrix lagrange_prolongation(std::uint64_t degree, std::uint64_t nt_coarse,
                                                std::uint64_t nt_fine);

}  // namespace zelk::piecewise_polynomials
