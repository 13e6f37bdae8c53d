// Collocation on [0, 1]: a rule's nodes and weights, and the integrals of its Lagrange basis up to and between nodes.
#pragma once

#include <span>

#include "time_operators/quadrature_rules.hpp"

namespace zelk::time_operators {

// For the n-point rule mapped onto [0, 1] (nodes tau_m = (x_m + 1) / 2,
// weights w_m / 2), with l_j the Lagrange polynomials of the nodes:
//   q[m * n + j] = integral of l_j over [0, tau_m],
//   s[m * n + j] = integral of l_j over [tau_{m-1}, tau_m] (tau_{-1} = 0).
// Every value is computed in double-double and rounded once. Faults if a
// span's length does not fit the rule. Polls for interrupts.
void fill_collocation(const ReferenceRule& rule, std::span<double> nodes, std::span<double> weights,
                      std::span<double> q, std::span<double> s);

}  // namespace zelk::time_operators
