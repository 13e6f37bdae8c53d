// LagrangeBasis: the row blocks of the Lagrange-to-Legendre matrix, and the whole matrix filled row by row.
#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "linear_algebra/coo_matrix.hpp"
#include "linear_algebra/csr_filled.hpp"
#include "linear_algebra/sparse_conversions.hpp"
#include "piecewise_polynomials/lagrange_basis.hpp"
#include "piecewise_polynomials/lagrange_legendre_weights.hpp"
#include "piecewise_polynomials/transformation_rows.hpp"

namespace zelk::piecewise_polynomials {

using linear_algebra::CooMatrix;
using linear_algebra::CsrMatrix;
using linear_algebra::CsrRows;
using linear_algebra::DenseMatrix;

namespace {

// Entries written per tile of rows: a few KiB, so the tile stays in cache.
constexpr std::uint64_t tile_entries = 256;

// Row k holds W(p, m) at column k * degree + m, m = 0 ... degree; every
// weight is stored, zeros and rounding residues included.
CsrMatrix row_block(const LagrangeBasis& basis, const DenseMatrix& w, std::uint64_t p)
{
    const std::uint64_t d = basis.degree;
    if (p > d) fail("Legendre degree " + std::to_string(p) + " exceeds the basis degree " + std::to_string(d));
    CooMatrix coo(basis.n_t, basis.points.size());
    // n_t * (d + 1) bounds every column k * d + m as well, so the columns cannot wrap.
    coo.reserve(checked_mul(basis.n_t, d + 1));
    InterruptCountdown countdown;
    for (std::uint64_t k = 0; k < basis.n_t; ++k) {
        for (std::uint64_t m = 0; m <= d; ++m) coo.push(k, k * d + m, w(p, m));
        countdown.tick(d + 1);
    }
    return linear_algebra::convert_coo_csr(std::move(coo));
}

}  // namespace

TransformationShape transformation_shape(std::uint64_t degree, std::uint64_t n_t, std::uint64_t ncols)
{
    return transformation_shape(degree, n_t, ncols, 0, n_t);
}

TransformationShape transformation_shape(std::uint64_t degree, std::uint64_t n_t, std::uint64_t ncols,
                                         std::uint64_t k_begin, std::uint64_t k_end)
{
    if (!(k_begin <= k_end && k_end <= n_t)) fail("Lagrange to Legendre rows beyond the grid");
    const std::uint64_t local = checked_add(degree, 1);
    // Every global row number must fit, whichever rows are asked for.
    checked_mul(local, n_t);
    const std::uint64_t nrows = checked_mul(local, k_end - k_begin);
    return {degree, n_t, k_begin, k_end, nrows, ncols, checked_mul(nrows, local)};
}

template <class Index>
void fill_transformation_rows(const TransformationShape& shape, const CsrRows<Index>& out)
{
    // The weights depend on the degree only: computed once for all rows.
    const DenseMatrix w = lagrange_to_legendre_weights(shape.degree);
    check_csr_storage(out, shape.nrows, shape.ncols, shape.nnz);
    const std::uint64_t d = shape.degree;
    const std::uint64_t local = d + 1;
    // Every row holds `local` entries.
    for_each_piece(0, shape.nrows + 1, [&](std::uint64_t begin, std::uint64_t end) {
        for (std::uint64_t r = begin; r < end; ++r) out.offsets[r] = static_cast<Index>(r * local);
    });
    // The rows of one polynomial are one block repeated, shifted by d columns
    // per sub-interval: written a tile of rows at a time, the values copied
    // from the tile and the columns offset from it.
    const std::uint64_t tile_rows =
        std::min<std::uint64_t>(std::max<std::uint64_t>(tile_entries / local, 1), shape.k_end - shape.k_begin);
    std::vector<Index> tile_columns = reserved_vector<Index>(tile_rows * local);
    for (std::uint64_t t = 0; t < tile_rows; ++t) {
        for (std::uint64_t m = 0; m < local; ++m) tile_columns.push_back(static_cast<Index>(t * d + m));
    }
    std::vector<double> tile_values = reserved_vector<double>(tile_rows * local);
    std::uint64_t pos = 0;
    InterruptCountdown countdown;  // counts entries written
    for (std::uint64_t p = 0; p < local; ++p) {
        tile_values.clear();
        for (std::uint64_t t = 0; t < tile_rows; ++t) {
            for (std::uint64_t m = 0; m < local; ++m) tile_values.push_back(w(p, m));
        }
        for (std::uint64_t k = shape.k_begin; k < shape.k_end; k += tile_rows) {
            const std::uint64_t entries = std::min(tile_rows, shape.k_end - k) * local;
            countdown.tick(entries);
            // below ncols: the whole matrix's row count bounds every column
            const auto first = static_cast<Index>(k * d);
            Index* const columns = out.col_indices.data() + pos;
            for (std::uint64_t e = 0; e < entries; ++e) columns[e] = first + tile_columns[e];
            std::copy_n(tile_values.data(), entries, out.values.data() + pos);
            pos += entries;
        }
    }
}

template void fill_transformation_rows(const TransformationShape&, const CsrRows<std::uint64_t>&);
template void fill_transformation_rows(const TransformationShape&, const CsrRows<std::int32_t>&);
template void fill_transformation_rows(const TransformationShape&, const CsrRows<std::int64_t>&);

CsrMatrix LagrangeBasis::to_legendre_basis_matrix_for_pol_degree(std::uint64_t pol_degree) const
{
    return row_block(*this, lagrange_to_legendre_weights(degree), pol_degree);
}

// The row blocks for p = 0 ... degree stacked vertically, written in place:
// the same matrix as stacking to_legendre_basis_matrix_for_pol_degree blocks.
CsrMatrix LagrangeBasis::get_transormation_matrix_to_legendre() const
{
    if (degree == 0) lagrange_to_legendre_weights(degree);  // its fault comes before any size check
    const TransformationShape shape = transformation_shape(degree, n_t, points.size());
    return linear_algebra::csr_filled_by(shape.nrows, shape.ncols, shape.nnz, "transformation",
                                         [&](const CsrRows<std::uint64_t>& rows) {
        fill_transformation_rows<std::uint64_t>(shape, rows);
        return shape.nnz;
    });
}

}  // namespace zelk::piecewise_polynomials
