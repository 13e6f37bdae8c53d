// LagrangeBasis: the row blocks of the Lagrange-to-Legendre matrix and their vertical stacking.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "linear_algebra/coo_matrix.hpp"
#include "linear_algebra/sparse_conversions.hpp"
#include "piecewise_polynomials/lagrange_basis.hpp"
#include "piecewise_polynomials/lagrange_legendre_weights.hpp"
#include "sparse_matrix_tools/csr_block_from_ndarray.hpp"

namespace zelk::piecewise_polynomials {

using linear_algebra::CooMatrix;
using linear_algebra::CsrMatrix;
using linear_algebra::DenseMatrix;

namespace {

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

CsrMatrix LagrangeBasis::to_legendre_basis_matrix_for_pol_degree(std::uint64_t pol_degree) const
{
    return row_block(*this, lagrange_to_legendre_weights(degree), pol_degree);
}

CsrMatrix LagrangeBasis::get_transormation_matrix_to_legendre() const
{
    // The weights depend on the degree only: compute them once for all blocks.
    const DenseMatrix w = lagrange_to_legendre_weights(degree);
    const std::uint64_t n_blocks = checked_add(degree, 1);
    std::vector<CsrMatrix> blocks = reserved_vector<CsrMatrix>(n_blocks);
    std::vector<sparse_matrix_tools::CsrBlockGrid::Cell> cells =
        reserved_vector<sparse_matrix_tools::CsrBlockGrid::Cell>(n_blocks);
    for (std::uint64_t p = 0; p < n_blocks; ++p) {
        poll_interrupt();  // a block's own countdown may not reach its stride: n_t can be small
        blocks.push_back(row_block(*this, w, p));
        cells.emplace_back(blocks.back());  // no reallocation: reserved above
    }
    CsrMatrix stacked =
        sparse_matrix_tools::csr_block_from_ndarray(sparse_matrix_tools::CsrBlockGrid(n_blocks, 1, cells));
    // Releasing large blocks takes a while: one at a time, with polls between.
    cells.clear();
    while (!blocks.empty()) {
        blocks.pop_back();
        poll_interrupt();
    }
    return stacked;
}

}  // namespace zelk::piecewise_polynomials
