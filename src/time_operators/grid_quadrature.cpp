// Quadrature on a grid of any points: each step taken exactly as a double-double, each result rounded once.
#include "time_operators/grid_quadrature.hpp"

#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"

namespace zelk::time_operators {

void fill_grid_quadrature(const ReferenceRule& rule, std::span<const double> points, std::span<double> times,
                          std::span<double> weights)
{
    if (points.size() < 2) fail("a grid needs at least two points");
    const std::uint64_t n_t = points.size() - 1;
    const std::uint64_t n = rule.nodes.size();
    check_equal(times.size(), checked_mul(n_t, n), "quadrature times have the wrong length");
    check_equal(weights.size(), times.size(), "quadrature weights have the wrong length");
    std::vector<DoubleDouble> position = reserved_vector<DoubleDouble>(n);
    std::vector<DoubleDouble> half_weight = reserved_vector<DoubleDouble>(n);
    for (std::uint64_t i = 0; i < n; ++i) {
        position.push_back((rule.nodes[i] + 1.0) * 0.5);  // exact halvings
        half_weight.push_back(rule.weights[i] * 0.5);
    }
    for_each_piece(0, n_t, [&](std::uint64_t first, std::uint64_t last) {
        for (std::uint64_t k = first; k < last; ++k) {
            const DoubleDouble start = points[k];
            const DoubleDouble h = DoubleDouble(points[k + 1]) - start;  // exact: a two-sum of doubles
            for (std::uint64_t i = 0; i < n; ++i) {
                times[k * n + i] = (start + h * position[i]).to_double();
                weights[k * n + i] = (half_weight[i] * h).to_double();
            }
        }
    }, interrupt_stride / (n + 1) + 1);
}

}  // namespace zelk::time_operators
