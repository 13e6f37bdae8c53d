// Lagrange bases on rule nodes: the rule integrates their products exactly (Lobatto up to a known rank-one term).
#include "time_operators/rule_node_blocks.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

#include "fault/checked_size.hpp"
#include "fault/interrupt.hpp"
#include "time_operators/reference_bases.hpp"

namespace zelk::time_operators {

namespace {

bool same_bits(const DoubleDouble& a, const DoubleDouble& b) noexcept
{
    return std::bit_cast<std::uint64_t>(a.hi) == std::bit_cast<std::uint64_t>(b.hi) &&
           std::bit_cast<std::uint64_t>(a.lo) == std::bit_cast<std::uint64_t>(b.lo);
}

// x 2^e, exact for both parts while neither leaves the normal range.
DoubleDouble times_power(DoubleDouble x, std::int64_t e) noexcept
{
    const int k = static_cast<int>(std::clamp<std::int64_t>(e, -100000, 100000));
    return {std::ldexp(x.hi, k), std::ldexp(x.lo, k)};
}

// The barycentric weights 1 / prod_{m != j} (x_j - x_m), scaled by one power
// of two: the products leave the double range from a few hundred nodes on, so
// each is kept near 1 with its exponent aside. The nodes of Gauss and Lobatto
// rules are mirror images bit for bit, and so are their weights (up to the
// sign (-1)^(n-1)): taking them so keeps the mirror exact for the end values.
std::vector<DoubleDouble> barycentric_weights(const std::vector<DoubleDouble>& x, bool symmetric)
{
    const std::uint64_t n = x.size();
    const std::uint64_t own = symmetric ? (n + 1) / 2 : n;
    std::vector<DoubleDouble> product = reserved_vector<DoubleDouble>(n);
    std::vector<std::int64_t> exponent = reserved_vector<std::int64_t>(n);
    InterruptCountdown countdown;
    for (std::uint64_t j = 0; j < own; ++j) {
        countdown.tick(n);
        DoubleDouble p = 1.0;
        std::int64_t e = 0;
        for (std::uint64_t m = 0; m < n; ++m) {
            if (m == j) continue;
            p *= x[j] - x[m];
            // Factors lie within [2^-60, 2]: renormalising now and then keeps p far inside the range.
            if (!(std::fabs(p.hi) >= 0x1p-400 && std::fabs(p.hi) <= 0x1p400)) {
                int k = 0;
                std::frexp(p.hi, &k);
                p = times_power(p, -k);
                e += k;
            }
        }
        product.push_back(p);
        exponent.push_back(e);
    }
    std::vector<DoubleDouble> weights = reserved_vector<DoubleDouble>(n);
    // Relative to the first weight: their ratios stay within a power of n.
    for (std::uint64_t j = 0; j < own; ++j)
        weights.push_back(times_power(DoubleDouble(1.0) / product[j], exponent[0] - exponent[j]));
    for (std::uint64_t j = own; j < n; ++j) {
        const DoubleDouble twin = weights[n - 1 - j];
        weights.push_back((n - 1) % 2 == 0 ? twin : -twin);
    }
    return weights;
}

// l_j(t) for every j at a point t that is no node, in the barycentric form
// (t - x_j)^-1 w_j / sum_m (t - x_m)^-1 w_m, which no scaling of the weights changes.
std::vector<DoubleDouble> barycentric_values(const RuleBasis& r, DoubleDouble t)
{
    const std::uint64_t n = r.nodes.size();
    std::vector<DoubleDouble> terms = reserved_vector<DoubleDouble>(n);
    DoubleDouble sum = 0.0;
    for (std::uint64_t m = 0; m < n; ++m) {
        terms.push_back(r.barycentric[m] / (t - r.nodes[m]));
        sum += terms.back();
    }
    for (DoubleDouble& v : terms) v = v / sum;
    return terms;
}

// 0 or 1 at an end that is a node.
std::vector<DoubleDouble> unit_values(std::uint64_t n, std::uint64_t one)
{
    std::vector<DoubleDouble> v(n, DoubleDouble(0.0));
    v[one] = 1.0;
    return v;
}

}  // namespace

std::optional<RuleBasis> rule_basis(const SpaceBasis& s)
{
    if (s.kind != BasisKind::lagrange || s.nodes.empty()) return std::nullopt;
    const std::uint64_t n = s.nodes.size();
    // By value: the mirrored rule's 1 is -(-1), with a low part of -0.
    const bool at_left = s.nodes.front().hi == -1.0 && s.nodes.front().lo == 0.0;
    const bool at_right = s.nodes.back().hi == 1.0 && s.nodes.back().lo == 0.0;
    QuadratureRule rule = QuadratureRule::gauss;
    if (at_left && at_right) {
        rule = QuadratureRule::lobatto;
    } else if (at_left) {
        rule = QuadratureRule::radau_left;
    } else if (at_right) {
        rule = QuadratureRule::radau_right;
    }
    if (rule == QuadratureRule::lobatto && n < 2) return std::nullopt;
    ReferenceRule found = reference_rule(rule, n);
    for (std::uint64_t j = 0; j < n; ++j) {
        if (!same_bits(found.nodes[j], s.nodes[j])) return std::nullopt;  // equispaced, say
    }
    RuleBasis r{rule, s.degree, std::move(found.nodes), std::move(found.weights), {}, {}, {}};
    const bool symmetric = rule == QuadratureRule::gauss || rule == QuadratureRule::lobatto;
    r.barycentric = barycentric_weights(r.nodes, symmetric);
    switch (rule) {
        case QuadratureRule::gauss:
            r.right = barycentric_values(r, DoubleDouble(1.0));
            r.left = reserved_vector<DoubleDouble>(n);
            for (std::uint64_t j = 0; j < n; ++j) r.left.push_back(r.right[n - 1 - j]);  // l_j(-x) = l_{n-1-j}(x)
            break;
        case QuadratureRule::radau_left:
            r.left = unit_values(n, 0);
            r.right = barycentric_values(r, DoubleDouble(1.0));
            break;
        case QuadratureRule::radau_right:
            r.left = barycentric_values(r, DoubleDouble(-1.0));
            r.right = unit_values(n, n - 1);
            break;
        case QuadratureRule::lobatto:
            r.left = unit_values(n, 0);
            r.right = unit_values(n, n - 1);
            break;
    }
    return r;
}

bool rule_block(bool derivative, const SpaceBasis& trial, const RuleBasis* trial_rule, const SpaceBasis& test,
                const RuleBasis* test_rule, std::vector<DoubleDouble>& value, std::vector<DoubleDouble>& magnitude)
{
    const bool legendre_trial = trial.kind == BasisKind::legendre;
    const bool legendre_test = test.kind == BasisKind::legendre;
    if (legendre_trial && legendre_test) return false;
    if ((!legendre_trial && trial_rule == nullptr) || (!legendre_test && test_rule == nullptr)) return false;
    if (trial_rule != nullptr && test_rule != nullptr &&
        (trial_rule->rule != test_rule->rule || trial_rule->degree != test_rule->degree))
        return false;
    const std::uint64_t nb = trial.degree + 1;
    const auto put = [&](std::uint64_t a, std::uint64_t b, DoubleDouble v, DoubleDouble m) {
        value[a * nb + b] = v;
        magnitude[a * nb + b] = m;
    };
    InterruptCountdown countdown;
    const RuleBasis& r = trial_rule != nullptr ? *trial_rule : *test_rule;
    const std::uint64_t n = r.nodes.size();
    const std::uint64_t d = r.degree;
    const bool lobatto = r.rule == QuadratureRule::lobatto;
    const DoubleDouble half(0.5);

    if (trial_rule != nullptr && test_rule != nullptr) {
        if (derivative) {
            // integral of l_b' l_a = w_a l_b'(x_a), exact for every rule here
            // (degree 2d - 1); l_b'(x_a) = (w_b / w_a) / (x_a - x_b) in the
            // barycentric weights w, and l_a'(x_a) = sum_{m != a} 1 / (x_a - x_m).
            std::vector<DoubleDouble> reciprocal(n);
            for (std::uint64_t a = 0; a < n; ++a) {
                countdown.tick(n);
                DoubleDouble diagonal = 0.0;
                DoubleDouble diagonal_magnitude = 0.0;
                for (std::uint64_t m = 0; m < n; ++m) {
                    if (m == a) continue;
                    reciprocal[m] = DoubleDouble(1.0) / (r.nodes[a] - r.nodes[m]);
                    diagonal += reciprocal[m];
                    diagonal_magnitude += abs(reciprocal[m]);
                }
                const DoubleDouble scale = r.weights[a] / r.barycentric[a];
                for (std::uint64_t b = 0; b < n; ++b) {
                    if (b == a) {
                        put(a, a, r.weights[a] * diagonal, r.weights[a] * diagonal_magnitude);
                    } else {
                        const DoubleDouble v = scale * r.barycentric[b] * reciprocal[b];
                        put(a, b, v, abs(v));
                    }
                }
            }
            return true;
        }
        if (!lobatto) {
            // Gauss and Radau rules integrate l_a l_b (degree 2d) exactly: the weights on the diagonal.
            for (std::uint64_t a = 0; a < n; ++a) put(a, a, r.weights[a] * half, r.weights[a] * half);
            return true;
        }
        // Lobatto errs on a degree-2d product by its leading coefficient
        // times that of P_d^2: integral(l_a l_b) = w_a delta_ab - c g_a g_b with
        // g_j = w_j P_d(x_j) and c = d (d + 1) / (2 (2d + 1)).
        std::vector<DoubleDouble> p(d + 1), slope(d + 1), g = reserved_vector<DoubleDouble>(n);
        for (std::uint64_t j = 0; j < n; ++j) {
            countdown.tick(d + 1);
            legendre_values(r.nodes[j], p, slope);
            g.push_back(r.weights[j] * p[d]);
        }
        const DoubleDouble c = DoubleDouble::from_u64(d) * DoubleDouble::from_u64(d + 1) /
                               DoubleDouble::from_u64(checked_mul(2, checked_add(checked_mul(2, d), 1)));
        for (std::uint64_t a = 0; a < n; ++a) {
            countdown.tick(n);
            const DoubleDouble ga = g[a] * c;
            for (std::uint64_t b = 0; b < n; ++b) {
                const DoubleDouble correction = ga * g[b];
                if (a == b) {
                    put(a, b, (r.weights[a] - correction) * half, (r.weights[a] + abs(correction)) * half);
                } else {
                    put(a, b, -correction * half, abs(correction) * half);
                }
            }
        }
        return true;
    }

    // A rule basis against Legendre polynomials (degree e). With
    // g(m, j) = integral of l_j P_m = w_j P_m(x_j) for m <= d (the rule is
    // exact to degree 2d; Lobatto to 2d - 1, and for m = d it gives 2/d for
    // the 2/(2d + 1) of P_d^2, hence the factor d / (2d + 1)) and 0 beyond:
    //   mass:              (1/2) g(i, j);
    //   derivative of l_j: l_j(1) - (-1)^i l_j(-1) - sum_{m < i, i - m odd} (2m + 1) g(m, j) (by parts, P_i'
    //                      being that sum of P_m), zero from i = d on;
    //   derivative of P_i: sum_{m < i, i - m odd} (2m + 1) g(m, j).
    // The sums run as prefix sums over the parity of m.
    const bool lagrange_trial = trial_rule != nullptr;
    const std::uint64_t e = lagrange_trial ? test.degree : trial.degree;
    const std::uint64_t top = std::max(d, e);
    const DoubleDouble lobatto_factor = DoubleDouble::from_u64(d) / DoubleDouble::from_u64(checked_add(2 * d, 1));
    std::vector<DoubleDouble> p(checked_add(top, 1)), slope(top + 1);
    for (std::uint64_t j = 0; j < n; ++j) {
        countdown.tick(top + 1);
        legendre_values(r.nodes[j], p, slope);
        const DoubleDouble& w = r.weights[j];
        const auto at = [&](std::uint64_t i, DoubleDouble v, DoubleDouble m) {
            if (lagrange_trial) {
                put(i, j, v, m);
            } else {
                put(j, i, v, m);
            }
        };
        const auto g = [&](std::uint64_t m) {
            const DoubleDouble v = w * p[m];
            return lobatto && m == d ? v * lobatto_factor : v;
        };
        if (!derivative) {
            // |P_m| <= 1 on [-1, 1]: (1/2) w_j bounds the terms, so that a value
            // the recurrence leaves within its rounding of zero is taken for 0.
            for (std::uint64_t i = 0; i <= std::min(d, e); ++i) {
                DoubleDouble v = w * p[i] * half;  // as the Gauss sums form it
                DoubleDouble bound = w * half;
                if (lobatto && i == d) {
                    v = v * lobatto_factor;
                    bound = bound * lobatto_factor;
                }
                at(i, v, bound);
            }
            continue;
        }
        DoubleDouble sum[2] = {0.0, 0.0};
        DoubleDouble sum_magnitude[2] = {0.0, 0.0};
        const std::uint64_t last = lagrange_trial ? (d == 0 ? 0 : std::min(e + 1, d)) : e + 1;
        for (std::uint64_t i = 0; i < last; ++i) {
            const std::uint64_t parity = (i + 1) % 2;
            if (lagrange_trial) {
                const DoubleDouble left = i % 2 == 0 ? r.left[j] : -r.left[j];
                at(i, r.right[j] - left - sum[parity], abs(r.right[j]) + abs(r.left[j]) + sum_magnitude[parity]);
            } else if (i > 0) {
                at(i, sum[parity], sum_magnitude[parity]);
            }
            if (i <= d) {
                const DoubleDouble term = DoubleDouble::from_u64(2 * i + 1) * g(i);
                sum[i % 2] += term;
                sum_magnitude[i % 2] += abs(term);
            }
        }
    }
    return true;
}

}  // namespace zelk::time_operators
