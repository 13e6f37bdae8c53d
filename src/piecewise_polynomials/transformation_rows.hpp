// The Lagrange-to-Legendre matrix written straight into compressed rows: its structure is known in advance.
#pragma once

#include <cstdint>

#include "linear_algebra/csr_rows.hpp"

namespace zelk::piecewise_polynomials {

// (degree + 1) * n_t rows, ncols columns (the grid's point count), exactly
// (degree + 1)^2 * n_t entries; "capacity overflow" for sizes beyond 64 bits.
struct TransformationShape {
    std::uint64_t degree;
    std::uint64_t n_t;
    std::uint64_t nrows;
    std::uint64_t ncols;
    std::uint64_t nnz;
};

TransformationShape transformation_shape(std::uint64_t degree, std::uint64_t n_t, std::uint64_t ncols);

// Row p * n_t + k holds W(p, m) at column k * degree + m, m = 0 ... degree,
// every weight stored. Faults of lagrange_to_legendre_weights come first.
// Instantiated for uint64_t, int32_t and int64_t indices.
template <class Index>
void fill_transformation_rows(const TransformationShape& shape, const linear_algebra::CsrRows<Index>& out);

}  // namespace zelk::piecewise_polynomials
