// Quadrature nodes as roots of Legendre combinations, found by deflated Newton steps in double-double precision.
#include "time_operators/quadrature_rules.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "time_operators/reference_bases.hpp"

namespace zelk::time_operators {
namespace {

// P_0 ... P_n and their derivatives at x.
struct LegendreAt {
    std::vector<DoubleDouble> value;
    std::vector<DoubleDouble> slope;

    explicit LegendreAt(std::uint64_t n)
        : value(reserved_vector<DoubleDouble>(checked_add(n, 1))), slope(reserved_vector<DoubleDouble>(n + 1))
    {
        value.resize(n + 1);
        slope.resize(n + 1);
    }
    void at(DoubleDouble x) { legendre_values(x, value, slope); }
};

// The function whose roots are the free nodes, and its derivative.
struct Target {
    DoubleDouble f;
    DoubleDouble df;
};

Target target(QuadratureRule rule, std::uint64_t n, LegendreAt& p, DoubleDouble x)
{
    p.at(x);
    switch (rule) {
    case QuadratureRule::gauss:
        return {p.value[n], p.slope[n]};
    case QuadratureRule::lobatto: {
        // P'_{n-1}, whose second derivative follows from Legendre's equation.
        const std::uint64_t m = n - 1;
        const DoubleDouble eigenvalue = DoubleDouble::from_u64(m) * DoubleDouble::from_u64(m + 1);
        const DoubleDouble second =
            (DoubleDouble(2.0) * x * p.slope[m] - eigenvalue * p.value[m]) / (DoubleDouble(1.0) - x * x);
        return {p.slope[m], second};
    }
    default:  // Radau with the node at -1: P_{n-1} + P_n
        return {p.value[n - 1] + p.value[n], p.slope[n - 1] + p.slope[n]};
    }
}

// Newton steps deflated by the roots found so far, so no root is found twice.
DoubleDouble newton_root(QuadratureRule rule, std::uint64_t n, LegendreAt& p, DoubleDouble x,
                         const std::vector<DoubleDouble>& found)
{
    for (int step = 0; step < 100; ++step) {
        const Target t = target(rule, n, p, x);
        DoubleDouble pull = 0.0;
        for (const DoubleDouble& root : found) pull += DoubleDouble(1.0) / (x - root);
        const DoubleDouble dx = t.f / (t.df - t.f * pull);
        x = x - dx;
        if (!(std::fabs(dx.hi) > 0x1p-100)) break;
    }
    return x;
}

}  // namespace

ReferenceRule reference_rule(QuadratureRule rule, std::uint64_t n)
{
    if (n == 0) fail("quadrature needs at least one point");
    if (rule == QuadratureRule::lobatto && n < 2) fail("Lobatto quadrature needs at least two points");
    const bool radau = rule == QuadratureRule::radau_left || rule == QuadratureRule::radau_right;
    const QuadratureRule solved = radau ? QuadratureRule::radau_left : rule;
    LegendreAt p(n);
    std::vector<DoubleDouble> nodes = reserved_vector<DoubleDouble>(n);
    InterruptCountdown countdown;
    // Fixed nodes first: they deflate the search for the free ones.
    if (radau || rule == QuadratureRule::lobatto) nodes.push_back(-1.0);
    if (rule == QuadratureRule::lobatto) nodes.push_back(1.0);
    const std::uint64_t fixed = nodes.size();
    const double dn = static_cast<double>(n);
    for (std::uint64_t i = 0; i < n - fixed; ++i) {
        countdown.tick(n * (nodes.size() + 1));
        const double di = static_cast<double>(i);
        double guess;  // the Chebyshev analogue of each node
        if (rule == QuadratureRule::gauss) {
            guess = -std::cos(std::numbers::pi * (di + 0.75) / (dn + 0.5));
        } else if (radau) {
            guess = -std::cos(2.0 * std::numbers::pi * (di + 1.0) / (2.0 * dn - 1.0));
        } else {
            guess = -std::cos(std::numbers::pi * (di + 1.0) / (dn - 1.0));
        }
        nodes.push_back(newton_root(solved, n, p, guess, nodes));
    }
    std::sort(nodes.begin(), nodes.end(), [](DoubleDouble a, DoubleDouble b) { return (a - b).hi < 0.0; });

    std::vector<DoubleDouble> weights = reserved_vector<DoubleDouble>(n);
    const DoubleDouble nn = DoubleDouble::from_u64(n) * DoubleDouble::from_u64(n);
    for (const DoubleDouble& x : nodes) {
        countdown.tick(n);
        p.at(x);
        DoubleDouble w;
        if (rule == QuadratureRule::gauss) {
            w = DoubleDouble(2.0) / ((DoubleDouble(1.0) - x * x) * p.slope[n] * p.slope[n]);
        } else if (radau) {
            w = (DoubleDouble(1.0) - x) / (nn * p.value[n - 1] * p.value[n - 1]);  // 2 / n^2 at x = -1
        } else {
            const DoubleDouble scale = DoubleDouble::from_u64(n) * DoubleDouble::from_u64(n - 1);
            w = DoubleDouble(2.0) / (scale * p.value[n - 1] * p.value[n - 1]);
        }
        weights.push_back(w);
    }
    if (rule == QuadratureRule::radau_right) {
        // The mirror image: nodes -x in ascending order, weights alongside.
        std::reverse(nodes.begin(), nodes.end());
        std::reverse(weights.begin(), weights.end());
        for (DoubleDouble& x : nodes) x = -x;
    }
    return {std::move(nodes), std::move(weights)};
}

void fill_time_quadrature(const ReferenceRule& rule, std::uint64_t n_t, double T, std::span<double> times,
                          std::span<double> weights)
{
    const std::uint64_t n = rule.nodes.size();
    check_equal(times.size(), checked_mul(n_t, n), "quadrature times have the wrong length");
    check_equal(weights.size(), times.size(), "quadrature weights have the wrong length");
    const DoubleDouble h = DoubleDouble(T) / DoubleDouble::from_u64(n_t);
    // Positions (x + 1) / 2 in [0, 1] and weights w h / 2, exact halvings of double-double values.
    std::vector<DoubleDouble> position = reserved_vector<DoubleDouble>(n);
    std::vector<double> weight = reserved_vector<double>(n);
    for (std::uint64_t i = 0; i < n; ++i) {
        position.push_back((rule.nodes[i] + 1.0) * 0.5);
        weight.push_back((rule.weights[i] * h * 0.5).to_double());
    }
    for_each_piece(0, n_t, [&](std::uint64_t first, std::uint64_t last) {
        for (std::uint64_t k = first; k < last; ++k) {
            const DoubleDouble start = DoubleDouble::from_u64(k);
            for (std::uint64_t i = 0; i < n; ++i) {
                times[k * n + i] = ((start + position[i]) * h).to_double();
                weights[k * n + i] = weight[i];
            }
        }
    }, interrupt_stride / (n + 1) + 1);
}

}  // namespace zelk::time_operators
