// The per-node weights that turn nodal values on one sub-interval into Legendre coefficients.
#pragma once

#include <cstdint>

#include "linear_algebra/dense_matrix.hpp"

namespace zelk::piecewise_polynomials {

// A with A(j, i) = P_j(xi_i) at the degree + 1 equidistant reference nodes
// xi_i of [-1, 1], by the three-term recurrence in its fixed operand order.
// degree >= 1.
linear_algebra::DenseMatrix legendre_vandermonde(std::uint64_t degree);

// W with W(p, m) the weight of local node m in the coefficient of P_p: fixed
// tables for degree 1 and 2, the transposed inverse of legendre_vandermonde
// from degree 3 on. Faults: "Lagrange to Legendre conversion not meaningful
// for degree 0"; "Failed to invert Vandermonde matrix for Lagrange to
// Legendre conversion." when the inverse meets an exactly zero pivot.
linear_algebra::DenseMatrix lagrange_to_legendre_weights(std::uint64_t degree);

}  // namespace zelk::piecewise_polynomials
