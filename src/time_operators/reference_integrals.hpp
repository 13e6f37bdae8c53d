// Exact integrals of products of local bases on [-1, 1], in double-double with a bound on their error.
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

// An exact rational integral as a double-double value within `error` of it.
// Sums of integrals add their errors, so a sum stays checkable for exactness.
struct Integral {
    DoubleDouble value;
    double error = 0.0;
};

inline Integral operator+(Integral a, Integral b) noexcept
{
    return {a.value + b.value, a.error + b.error};
}

// The exact value where the integral cannot be told from a double: +0.0 when
// zero lies within its error, the double itself (low part 0) when that one
// does; else the value as it is. Polynomial integrals with the denominators of
// these bases never come that close to a double without being it, so the
// zeros are exact and the doubles are what a tie in a later rounding needs.
DoubleDouble settled(Integral integral) noexcept;

// Row a (test function v_a), column b (trial function u_b), row-major:
//   mass:       (1/2) integral of u_b v_a over [-1, 1] (the mean over the interval),
//   derivative: integral of u_b' v_a over [-1, 1].
// Legendre against Legendre in closed form, O(degree^2); with a Lagrange
// side by a Gauss rule that integrates the products exactly. The entries that
// orthogonality and degree make zero are exactly 0.
std::vector<Integral> reference_mass(const LocalBasis& trial, const LocalBasis& test);
std::vector<Integral> reference_derivative(const LocalBasis& trial, const LocalBasis& test);

// Bytes that reference_mass or reference_derivative hold at their peak, so
// that a caller can check them against the memory limit before any work.
std::uint64_t reference_block_bytes(const LocalBasis& trial, const LocalBasis& test);

// The basis functions' values at -1 (left) or 1: 0 or 1 for Lagrange, (-1)^i or 1 for Legendre.
std::vector<double> end_values(const LocalBasis& basis, bool right);

}  // namespace zelk::time_operators
