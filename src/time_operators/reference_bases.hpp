// The local bases of the time spaces on the reference interval [-1, 1], evaluated in double-double precision.
#pragma once

#include <cstdint>
#include <span>

#include "time_operators/double_double.hpp"

namespace zelk::time_operators {

// Lagrange: the degree + 1 Lagrange polynomials of the equidistant nodes
// -1 + 2j/degree (degree >= 1). Legendre: P_0 ... P_degree with P_i(1) = 1.
enum class BasisKind : std::uint8_t { lagrange, legendre };

struct LocalBasis {
    BasisKind kind;
    std::uint64_t degree;

    std::uint64_t size() const noexcept { return degree + 1; }
};

// values[i] = P_i(x) and derivatives[i] = P_i'(x) for i < values.size() (both spans equally long).
void legendre_values(DoubleDouble x, std::span<DoubleDouble> values, std::span<DoubleDouble> derivatives);

// The basis functions and their x-derivatives at x; both spans hold basis.size() values.
// Equidistant Lagrange values beyond the double range (from degree 1,000 or
// so) are a ValueOverflow fault; derivatives beyond it are infinite.
void local_basis_values(const LocalBasis& basis, DoubleDouble x, std::span<DoubleDouble> values,
                        std::span<DoubleDouble> derivatives);

}  // namespace zelk::time_operators
