// Large Gauss, Radau and Lobatto rules in time linear in the number of points: Taylor steps from root to root.
#pragma once

#include <cstdint>

#include "time_operators/quadrature_rules.hpp"

namespace zelk::time_operators {

// The n-point rule (n >= 3), as reference_rule describes it, for any size.
// The free nodes are the roots of a Jacobi polynomial y (P_n; P_{n-1} + P_n
// over 1 + x; P'_{n-1}), which solves (1 - x^2) y'' + (b - a x) y' + l y = 0.
// One root near the middle is found by Newton steps on the three-term
// recurrence; from each root the next follows from y's Taylor series there,
// whose coefficients the equation gives, so every root costs the same
// whatever n. The series are summed in double-double, like the weights that
// follow from y' at the roots.
ReferenceRule stepped_rule(QuadratureRule rule, std::uint64_t n);

}  // namespace zelk::time_operators
