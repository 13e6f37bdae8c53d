// Integrals of the Lagrange basis of a rule's nodes: Gauss quadrature between neighbouring nodes, barycentric values.
#include "time_operators/collocation.hpp"

#include <algorithm>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"

namespace zelk::time_operators {
namespace {

// Weights b_j = 1 / prod_{i != j} 4 (tau_j - tau_i) of the barycentric form;
// the factor 4 (the inverse capacity of [0, 1]) keeps the products near 1
// for the rules' clustered nodes. Any common factor cancels in l_j.
std::vector<DoubleDouble> barycentric_weights(const std::vector<DoubleDouble>& tau)
{
    std::vector<DoubleDouble> b = reserved_vector<DoubleDouble>(tau.size());
    for (std::size_t j = 0; j < tau.size(); ++j) {
        DoubleDouble product = 1.0;
        for (std::size_t i = 0; i < tau.size(); ++i) {
            if (i != j) product *= (tau[j] - tau[i]) * DoubleDouble(4.0);
        }
        b.push_back(DoubleDouble(1.0) / product);
    }
    return b;
}

}  // namespace

void fill_collocation(const ReferenceRule& rule, std::span<double> nodes, std::span<double> weights,
                      std::span<double> q, std::span<double> s)
{
    const std::uint64_t n = rule.nodes.size();
    check_equal(nodes.size(), n, "collocation nodes have the wrong length");
    check_equal(weights.size(), n, "collocation weights have the wrong length");
    check_equal(q.size(), checked_mul(n, n), "the integration matrix has the wrong size");
    check_equal(s.size(), q.size(), "the node-to-node matrix has the wrong size");

    std::vector<DoubleDouble> tau = reserved_vector<DoubleDouble>(n);
    for (std::uint64_t m = 0; m < n; ++m) {
        tau.push_back((rule.nodes[m] + 1.0) * 0.5);  // exact halving
        nodes[m] = tau[m].to_double();
        weights[m] = (rule.weights[m] * 0.5).to_double();
    }
    const std::vector<DoubleDouble> b = barycentric_weights(tau);
    // l_j has degree n - 1: n / 2 + 1 Gauss points integrate it exactly.
    const ReferenceRule gauss = reference_rule(QuadratureRule::gauss, n / 2 + 1);

    std::vector<DoubleDouble> running = reserved_vector<DoubleDouble>(n);  // Q's row so far
    running.resize(n, DoubleDouble(0.0));
    std::vector<DoubleDouble> piece = running;
    std::vector<DoubleDouble> ratio = running;
    InterruptCountdown countdown;
    DoubleDouble left = 0.0;
    for (std::uint64_t m = 0; m < n; ++m) {
        countdown.tick(n * gauss.nodes.size());
        const DoubleDouble right = tau[m];
        const DoubleDouble half_width = (right - left) * 0.5;
        std::fill(piece.begin(), piece.end(), DoubleDouble(0.0));
        if (half_width.hi > 0.0) {
            for (std::size_t p = 0; p < gauss.nodes.size(); ++p) {
                // A Gauss point lies strictly between two neighbouring nodes, so no x - tau_j is zero.
                const DoubleDouble x = left + half_width * (gauss.nodes[p] + 1.0);
                DoubleDouble sum = 0.0;
                for (std::uint64_t j = 0; j < n; ++j) {
                    ratio[j] = b[j] / (x - tau[j]);
                    sum += ratio[j];
                }
                const DoubleDouble scale = gauss.weights[p] * half_width / sum;
                for (std::uint64_t j = 0; j < n; ++j) piece[j] += ratio[j] * scale;
            }
        }
        for (std::uint64_t j = 0; j < n; ++j) {
            running[j] += piece[j];
            s[m * n + j] = piece[j].to_double();
            q[m * n + j] = running[j].to_double();
        }
        left = right;
    }
}

}  // namespace zelk::time_operators
