// The time mass matrix with a weight: integrals of w u_j v_i, w a piecewise polynomial on the same grid.
#pragma once

#include <cstdint>
#include <span>

#include "linear_algebra/csr_rows.hpp"
#include "time_operators/general_operator_rows.hpp"

namespace zelk::time_operators {

// The weight: a function of the space `basis` with these global coefficients
// (basis dimension of them on the grid's n_t sub-intervals).
struct Weight {
    const SpaceBasis& basis;
    std::span<const double> coefficients;
};

// Writes the mass rows of test sub-intervals [shape.k_begin, shape.k_end)
// (shape from general_shape with the mass operator) and returns the entry
// count. Entry (i, j) is the integral of w u_j v_i over the grid: on each
// sub-interval a Gauss rule exact for the product's degree, summed in
// double-double and scaled by the step (`step` for every sub-interval where
// it is positive, else t_{k+1} - t_k taken exactly), the (at most two)
// sub-intervals' shares summed, rounded once; entries that vanish within
// the sums' rounding error are not stored. Faults: "the weight has the
// wrong number of coefficients". Polls for interrupts.
template <class Index>
std::uint64_t fill_weighted_mass_rows(const GeneralShape& shape, const SpaceBasis& trial, const SpaceBasis& test,
                                      const Weight& weight, std::span<const double> points, double step,
                                      const linear_algebra::CsrRows<Index>& out);

}  // namespace zelk::time_operators
