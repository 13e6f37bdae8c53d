// Exact integrals of products of local bases on [-1, 1], each rounded to double once.
#pragma once

#include <cstdint>
#include <vector>

#include "time_operators/double_double.hpp"
#include "time_operators/reference_bases.hpp"

namespace zelk::time_operators {

// The rounded value of a double-double sum of `terms` whose absolute values
// add up to `magnitude`: +0.0 when it lies within the sum's own rounding
// error of zero, which for these polynomial integrals means it is exactly zero.
double rounded_integral(DoubleDouble sum, DoubleDouble magnitude) noexcept;

// Row a (test function v_a), column b (trial function u_b), row-major:
//   mass:       (1/2) integral of u_b v_a over [-1, 1] (the mean over the interval),
//   derivative: integral of u_b' v_a over [-1, 1].
// Computed by a Gauss rule that integrates the products exactly.
std::vector<double> reference_mass(const LocalBasis& trial, const LocalBasis& test);
std::vector<double> reference_derivative(const LocalBasis& trial, const LocalBasis& test);

// The basis functions' values at -1 (left) or 1: 0 or 1 for Lagrange, (-1)^i or 1 for Legendre.
std::vector<double> end_values(const LocalBasis& basis, bool right);

}  // namespace zelk::time_operators
