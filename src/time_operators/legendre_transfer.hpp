// Modal grid transfers: the L2 projections of piecewise Legendre expansions between two time grids, as CSR rows.
#pragma once

#include <cstdint>

#include "linear_algebra/csr_rows.hpp"

namespace zelk::time_operators {

// prolongation: rows are the fine space's coefficients (i*nt_fine + k), the
// range is of fine sub-intervals; restriction: rows are the coarse space's
// (j*nt_coarse + K), the range is of coarse sub-intervals. Rows within the
// range go polynomial by polynomial, i outer.
struct LegendreTransferShape {
    bool restriction;
    std::uint64_t degree;
    std::uint64_t nt_coarse;
    std::uint64_t nt_fine;
    std::uint64_t k_begin;
    std::uint64_t k_end;
    // On the common refinement of both grids, a coarse sub-interval is
    // coarse_units long and a fine one fine_units (coprime).
    std::uint64_t coarse_units;
    std::uint64_t fine_units;
    std::uint64_t nrows;
    std::uint64_t ncols;
    std::uint64_t max_nnz;
};

// Faults: "time grid requires at least one interval" (for either grid),
// "interval range out of bounds", "capacity overflow" for sizes or a common
// refinement beyond 64 bits.
LegendreTransferShape legendre_transfer_shape(bool restriction, std::uint64_t nt_coarse, std::uint64_t nt_fine,
                                              std::uint64_t degree, std::uint64_t k_begin, std::uint64_t k_end);

// Writes the rows and returns the entry count. With
// J = integral over the overlap of fine sub-interval k and coarse K of P_i(x_fine) P_j(x_coarse) dx_fine,
// the prolongation's entry (i, k; j, K) is (2i + 1)/2 J and the restriction's
// (j, K; i, k) is (2j + 1)/2 (h_fine / h_coarse) J, each rounded once; exact
// zeros are left out. Instantiated for int32_t and int64_t. Polls for interrupts.
template <class Index>
std::uint64_t fill_legendre_transfer_rows(const LegendreTransferShape& shape,
                                          const linear_algebra::CsrRows<Index>& out);

}  // namespace zelk::time_operators
