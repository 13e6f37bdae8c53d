// Gauss, Radau and Lobatto rules on [-1, 1] in double-double precision, and their copies on a time grid.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "time_operators/double_double.hpp"

namespace zelk::time_operators {

// radau_left includes -1, radau_right includes 1, lobatto both.
enum class QuadratureRule : std::uint8_t { gauss, radau_left, radau_right, lobatto };

struct ReferenceRule {
    std::vector<DoubleDouble> nodes;  // ascending in [-1, 1]
    std::vector<DoubleDouble> weights;
};

// The n-point rule. Faults: "quadrature needs at least one point" (two for
// Lobatto: "Lobatto quadrature needs at least two points").
ReferenceRule reference_rule(QuadratureRule rule, std::uint64_t n);

// The rule copied onto each of the n_t sub-intervals of [0, T], sub-interval
// by sub-interval: times and weights hold n_t * n values each, every one the
// double nearest to t = h (k + (x + 1) / 2) and h w / 2 for h = T / n_t.
// Polls for interrupts.
void fill_time_quadrature(const ReferenceRule& rule, std::uint64_t n_t, double T, std::span<double> times,
                          std::span<double> weights);

}  // namespace zelk::time_operators
