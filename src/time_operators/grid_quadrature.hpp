// A reference rule copied onto every sub-interval of a grid given by its points.
#pragma once

#include <span>

#include "time_operators/quadrature_rules.hpp"

namespace zelk::time_operators {

// points t_0 < ... < t_n (n >= 1). times and weights hold n * rule size
// values each, sub-interval by sub-interval: the doubles nearest to
// t_k + h_k (x + 1) / 2 and h_k w / 2 with h_k = t_{k+1} - t_k taken
// exactly. Polls for interrupts.
void fill_grid_quadrature(const ReferenceRule& rule, std::span<const double> points, std::span<double> times,
                          std::span<double> weights);

}  // namespace zelk::time_operators
