// Quadrature nodes as roots of Legendre combinations, found by deflated Newton steps in double-double precision.
#include "time_operators/quadrature_rules.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "time_operators/reference_bases.hpp"
#include "time_operators/stepped_rules.hpp"

namespace zelk::time_operators {
namespace {

// Largest rule found by deflated Newton steps on the recurrence.
constexpr std::uint64_t deflated_points_max = 40;

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
        case QuadratureRule::gauss: return {p.value[n], p.slope[n]};
        case QuadratureRule::lobatto: {
            // P'_{n-1}, whose second derivative follows from Legendre's equation.
            const std::uint64_t m = n - 1;
            const DoubleDouble eigenvalue = DoubleDouble::from_u64(m) * DoubleDouble::from_u64(m + 1);
            const DoubleDouble second = (DoubleDouble(2.0) * x * p.slope[m] - eigenvalue * p.value[m]) /
                                        (DoubleDouble(1.0) - x * x);
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

// The roots of P_m, ascending: Newton steps from the classical guesses, deflated.
std::vector<DoubleDouble> gauss_nodes(std::uint64_t m, LegendreAt& p, InterruptCountdown& countdown)
{
    std::vector<DoubleDouble> nodes = reserved_vector<DoubleDouble>(m);
    const double dm = static_cast<double>(m);
    for (std::uint64_t i = 0; i < m; ++i) {
        countdown.tick(m * (i + 1));
        const double guess = -std::cos(std::numbers::pi * (static_cast<double>(i) + 0.75) / (dm + 0.5));
        nodes.push_back(newton_root(QuadratureRule::gauss, m, p, guess, nodes));
    }
    std::sort(nodes.begin(), nodes.end(), [](DoubleDouble a, DoubleDouble b) { return (a - b).hi < 0.0; });
    return nodes;
}

// The one root in (lo, hi) of a function that changes sign there: Newton steps,
// replaced by bisection whenever they would leave the shrinking bracket.
DoubleDouble bracketed_root(QuadratureRule rule, std::uint64_t n, LegendreAt& p, DoubleDouble lo, DoubleDouble hi)
{
    const bool negative_at_lo = target(rule, n, p, lo).f.hi < 0.0;
    DoubleDouble x = (lo + hi) * 0.5;
    for (int step = 0; step < 400; ++step) {
        const Target t = target(rule, n, p, x);
        if (t.f.hi == 0.0) break;
        if ((t.f.hi < 0.0) == negative_at_lo) {
            lo = x;
        } else {
            hi = x;
        }
        DoubleDouble next = x - t.f / t.df;
        if (!((next - lo).hi > 0.0 && (hi - next).hi > 0.0)) next = (lo + hi) * 0.5;
        const double moved = (next - x).hi;
        x = next;
        if (!(std::fabs(moved) > 0x1p-100)) break;
    }
    return x;
}

}  // namespace

ReferenceRule reference_rule(QuadratureRule rule, std::uint64_t n)
{
    if (n == 0) fail("quadrature needs at least one point");
    if (rule == QuadratureRule::lobatto && n < 2) fail("Lobatto quadrature needs at least two points");
    // The deflated steps below cost O(n^2); beyond a few dozen points the
    // roots follow one another along their equation instead.
    if (n > deflated_points_max) return stepped_rule(rule, n);
    const bool radau = rule == QuadratureRule::radau_left || rule == QuadratureRule::radau_right;
    const QuadratureRule solved = radau ? QuadratureRule::radau_left : rule;
    LegendreAt p(n);
    InterruptCountdown countdown;
    std::vector<DoubleDouble> nodes;
    if (rule == QuadratureRule::gauss) {
        nodes = gauss_nodes(n, p, countdown);
    } else {
        // The free nodes interlace with the roots of P_n (Radau: roots of
        // P_{n-1} + P_n) or of P_{n-1} (Lobatto: roots of P'_{n-1}), one
        // between each neighbouring pair.
        const std::vector<DoubleDouble> brackets = gauss_nodes(radau ? n : n - 1, p, countdown);
        nodes = reserved_vector<DoubleDouble>(n);
        nodes.push_back(-1.0);
        for (std::uint64_t i = 0; i + 1 < brackets.size(); ++i) {
            countdown.tick(n * 8);
            nodes.push_back(bracketed_root(solved, n, p, brackets[i], brackets[i + 1]));
        }
        if (rule == QuadratureRule::lobatto) nodes.push_back(1.0);
    }

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
