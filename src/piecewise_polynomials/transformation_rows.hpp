// The Lagrange-to-Legendre matrix written straight into compressed rows: its structure is known in advance.
#pragma once

#include <cstdint>

#include "linear_algebra/csr_rows.hpp"

namespace zelk::piecewise_polynomials {

// The rows that sub-intervals [k_begin, k_end) own: rows p * n_t + k of every
// p = 0 ... degree, polynomial by polynomial, so nrows = (degree + 1) * (k_end - k_begin)
// rows; ncols columns (the grid's point count), exactly nrows * (degree + 1)
// entries. "capacity overflow" for sizes beyond 64 bits.
struct TransformationShape {
    std::uint64_t degree;
    std::uint64_t n_t;
    std::uint64_t k_begin;
    std::uint64_t k_end;
    std::uint64_t nrows;
    std::uint64_t ncols;
    std::uint64_t nnz;
};

// All n_t sub-intervals, or those of [k_begin, k_end) (a fault unless k_begin <= k_end <= n_t).
TransformationShape transformation_shape(std::uint64_t degree, std::uint64_t n_t, std::uint64_t ncols);
TransformationShape transformation_shape(std::uint64_t degree, std::uint64_t n_t, std::uint64_t ncols,
                                         std::uint64_t k_begin, std::uint64_t k_end);

// Row p * n_t + k holds W(p, m) at column k * degree + m, m = 0 ... degree,
// every weight stored; the shape's rows in that order. Faults of
// lagrange_to_legendre_weights come first.
// Instantiated for uint64_t, int32_t and int64_t indices.
template <class Index>
void fill_transformation_rows(const TransformationShape& shape, const linear_algebra::CsrRows<Index>& out);

}  // namespace zelk::piecewise_polynomials
