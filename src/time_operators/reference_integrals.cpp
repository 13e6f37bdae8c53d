// Reference-interval mass and derivative blocks: a Gauss rule of enough points, summed in double-double.
#include "time_operators/reference_integrals.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "time_operators/quadrature_rules.hpp"
#include "time_operators/split_product.hpp"

namespace zelk::time_operators {

double rounded_integral(DoubleDouble sum, DoubleDouble magnitude) noexcept
{
    // A double-double sum of N terms errs by at most about N 2^-104 of their
    // magnitude; 2^-90 leaves room for N up to 2^14 and the rounded nodes.
    if (std::fabs(sum.hi) <= magnitude.hi * 0x1p-90) return 0.0;
    return sum.to_double();
}

DoubleDouble settled(Integral integral) noexcept
{
    const DoubleDouble v = integral.value;
    if (std::fabs(v.hi) <= integral.error) return 0.0;
    if (std::fabs(v.lo) <= integral.error) return v.hi;
    return v;
}

namespace {

// Gauss with n points is exact to degree 2n - 1.
std::uint64_t rule_points(const LocalBasis& trial, const LocalBasis& test)
{
    return checked_add(trial.degree, test.degree) / 2 + 1;
}

// Entries that orthogonality, parity or degree make exactly zero: P_a is
// orthogonal to every polynomial of lower degree, and P_b' (degree b - 1,
// parity of b - 1) to P_a unless b > a with b - a odd. (P_b' itself is not
// orthogonal to lower degrees: it is a sum of the P_a below it.)
bool known_zero(const LocalBasis& trial, const LocalBasis& test, bool derivative, std::uint64_t a, std::uint64_t b)
{
    const bool legendre_trial = trial.kind == BasisKind::legendre;
    const bool legendre_test = test.kind == BasisKind::legendre;
    if (derivative && trial.degree == 0) return true;
    const std::uint64_t f_degree = derivative ? trial.degree - 1 : trial.degree;
    if (legendre_test && a > f_degree) return true;
    if (legendre_trial && !derivative && b > test.degree) return true;
    if (legendre_trial && legendre_test) return derivative ? b <= a || (b - a) % 2 == 0 : a != b;
    return false;
}

// Legendre against Legendre in closed form: half the integral of P_b P_a is
// 1 / (2a + 1) for a = b, and the integral of P_b' P_a is 2 for b > a with
// b - a odd; every other entry is zero.
std::vector<Integral> legendre_block(const LocalBasis& trial, const LocalBasis& test, bool trial_derivative)
{
    const std::uint64_t nb = trial.size();
    const std::uint64_t na = test.size();
    std::vector<Integral> block = reserved_vector<Integral>(checked_mul(na, nb));
    InterruptCountdown countdown;
    for (std::uint64_t a = 0; a < na; ++a) {
        countdown.tick(nb);
        for (std::uint64_t b = 0; b < nb; ++b) {
            if (known_zero(trial, test, trial_derivative, a, b)) {
                block.push_back({DoubleDouble(0.0), 0.0});
            } else if (trial_derivative) {
                block.push_back({DoubleDouble(2.0), 0.0});
            } else {
                // Within 2^-104 of 1 / (2a + 1), which lies no closer than
                // 2^-53 / (2a + 1) to a double but for a = 0, where it is 1.
                const DoubleDouble mean = DoubleDouble(1.0) / DoubleDouble::from_u64(2 * a + 1);
                block.push_back({mean, a == 0 ? 0.0 : mean.hi * 0x1p-100});
            }
        }
    }
    return block;
}

[[noreturn]] void overflow(const LocalBasis& trial, const LocalBasis& test)
{
    const auto name = [](const LocalBasis& basis) {
        return (basis.kind == BasisKind::lagrange ? std::string("equidistant Lagrange degree ")
                                                  : std::string("Legendre degree ")) +
               std::to_string(basis.degree);
    };
    fail_overflow("time operator entries of " + name(trial) + " (trial) and " + name(test) +
                  " (test) lie beyond the double range");
}

// A Lagrange basis against itself has the means of l_b^2 on its diagonal,
// sums of positive terms: one beyond the double range is found in O(degree^2)
// before the O(degree^3) block. The terms scaled by 2^-1024 sum to more than
// 1 only where the mean itself is clearly past the largest double.
void diagonal_in_range(const LocalBasis& trial, const LocalBasis& test, const ReferenceRule& rule)
{
    if (trial.degree != test.degree) return;
    std::vector<DoubleDouble> u(trial.size()), du(trial.size());
    std::vector<double> diagonal(trial.size(), 0.0);
    InterruptCountdown countdown;
    for (std::uint64_t q = 0; q < rule.nodes.size(); ++q) {
        countdown.tick(trial.size());
        local_basis_values(trial, rule.nodes[q], u, du);
        const double w = rule.weights[q].hi * 0.5;  // the mean's 1/2
        for (std::uint64_t b = 0; b < trial.size(); ++b) {
            const double v = u[b].hi * 0x1p-512;
            diagonal[b] += w * (v * v);
        }
    }
    for (const double d : diagonal) {
        if (d > 1.000001) overflow(trial, test);
    }
}

// The sums below end in the overflow fault where the magnitude of an entry's
// terms, the sum of |w f(trial_b) g(test_a)| over the nodes, passes the double
// range. Row by row those magnitudes add up in O(degree^2), as the sum over
// the nodes of w |g(test_a)| times the sum of |f(trial_b)| over b: a row whose
// sum passes nb 2^1026 has an entry past 2^1025, beyond any rounding of the
// sums, so the fault is certain and raised before their O(degree^3) work. The
// values are evaluated at the nodes in the sums' order, so a basis beyond the
// range faults here as it would there. Scaled by 2^-1024, in halves, to stay finite.
void magnitudes_in_range(const LocalBasis& trial, const LocalBasis& test, bool trial_derivative,
                         const ReferenceRule& rule)
{
    const std::uint64_t nb = trial.size();
    const std::uint64_t na = test.size();
    std::vector<DoubleDouble> u(nb), du(nb), v(na), dv(na);
    std::vector<double> row(na, 0.0);
    const double scale = trial_derivative ? 1.0 : 0.5;
    InterruptCountdown countdown;
    for (std::uint64_t q = 0; q < rule.nodes.size(); ++q) {
        countdown.tick(na + nb);
        local_basis_values(trial, rule.nodes[q], u, du);
        local_basis_values(test, rule.nodes[q], v, dv);
        double f = 0.0;
        for (std::uint64_t b = 0; b < nb; ++b) f += std::fabs((trial_derivative ? du[b] : u[b]).hi) * 0x1p-512;
        const double wf = rule.weights[q].hi * scale * f;
        for (std::uint64_t a = 0; a < na; ++a) row[a] += wf * (std::fabs(v[a].hi) * 0x1p-512);
    }
    for (const double r : row) {
        if (r > 4.0 * static_cast<double>(nb)) overflow(trial, test);  // NaN: left to the sums
    }
}

// sum over nodes of w f(trial_b) g(test_a), with f the value or the derivative.
std::vector<Integral> reference_block(const LocalBasis& trial, const LocalBasis& test, bool trial_derivative)
{
    if (trial.kind == BasisKind::legendre && test.kind == BasisKind::legendre) {
        return legendre_block(trial, test, trial_derivative);
    }
    const std::uint64_t nb = trial.size();
    const std::uint64_t na = test.size();
    const std::uint64_t n = rule_points(trial, test);
    require_bytes(reference_block_bytes(trial, test));
    const ReferenceRule rule = reference_rule(QuadratureRule::gauss, n);
    if (!trial_derivative && trial.kind == BasisKind::lagrange && test.kind == BasisKind::lagrange) {
        diagonal_in_range(trial, test, rule);
    }
    magnitudes_in_range(trial, test, trial_derivative, rule);
    const std::uint64_t entries = checked_mul(na, nb);
    std::vector<DoubleDouble> sum = reserved_vector<DoubleDouble>(entries);
    std::vector<double> magnitude = reserved_vector<double>(entries);
    sum.resize(entries);
    magnitude.resize(entries);
    std::vector<DoubleDouble> u(nb), du(nb), v(na), dv(na);
    std::vector<SplitDoubleDouble> f = reserved_vector<SplitDoubleDouble>(nb);
    // The mass is a mean: its 1/2 goes into the weights, exactly, so that the
    // sums stay in range wherever the means do.
    const double scale = trial_derivative ? 1.0 : 0.5;
    std::vector<DoubleDouble> weights = reserved_vector<DoubleDouble>(n);
    for (const DoubleDouble& w : rule.weights) weights.push_back(w * DoubleDouble(scale));
    InterruptCountdown countdown;
    for (std::uint64_t q = 0; q < n; ++q) {
        local_basis_values(trial, rule.nodes[q], u, du);
        local_basis_values(test, rule.nodes[q], v, dv);
        f.clear();
        for (const DoubleDouble& value : trial_derivative ? du : u) f.emplace_back(value);
        for (std::uint64_t a = 0; a < na; ++a) {
            countdown.tick(nb);
            const SplitDoubleDouble wv(weights[q] * v[a]);
            DoubleDouble* row = sum.data() + a * nb;
            double* row_magnitude = magnitude.data() + a * nb;
            for (std::uint64_t b = 0; b < nb; ++b) {
                const DoubleDouble term = split_product(wv, f[b]);
                row[b] += term;
                row_magnitude[b] += std::fabs(term.hi);
            }
        }
    }
    // A double-double sum of N terms errs by at most about N 2^-104 of their
    // magnitude, the bases and rounded nodes adding as much per degree; 2^-90
    // leaves room for N up to 2^12, beyond which the bound grows with N.
    const double slack = 0x1p-90 * std::max(1.0, static_cast<double>(n + na + nb) * 0x1p-12);
    std::vector<Integral> block = reserved_vector<Integral>(entries);
    for (std::uint64_t a = 0; a < na; ++a) {
        for (std::uint64_t b = 0; b < nb; ++b) {
            const std::uint64_t e = a * nb + b;
            // Terms beyond the double range: the entry, or the bound that certifies it, cannot be had.
            if (!std::isfinite(sum[e].hi) || !std::isfinite(magnitude[e])) overflow(trial, test);
            if (known_zero(trial, test, trial_derivative, a, b)) {
                block.push_back({DoubleDouble(0.0), 0.0});
            } else {
                block.push_back({sum[e], magnitude[e] * slack});
            }
        }
    }
    return block;
}

// a * b, saturating: a size that overflows cannot be had anyway.
std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) noexcept
{
    std::uint64_t product;
    return mul_overflows(a, b, product) ? std::numeric_limits<std::uint64_t>::max() : product;
}

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) noexcept
{
    std::uint64_t sum;
    return add_overflows(a, b, sum) ? std::numeric_limits<std::uint64_t>::max() : sum;
}

}  // namespace

std::uint64_t reference_block_bytes(const LocalBasis& trial, const LocalBasis& test)
{
    const std::uint64_t entries = saturating_mul(trial.degree + 1, test.degree + 1);
    // The sums, their magnitudes and the block; the rule, the basis values and
    // the Lagrange products per point.
    const std::uint64_t per_entry = sizeof(DoubleDouble) + sizeof(double) + sizeof(Integral);
    const std::uint64_t points =
        saturating_add(saturating_add(trial.degree, test.degree) / 2 + 1, saturating_add(trial.degree, test.degree));
    return saturating_add(saturating_mul(entries, per_entry), saturating_mul(points, 8 * sizeof(DoubleDouble)));
}

std::vector<Integral> reference_mass(const LocalBasis& trial, const LocalBasis& test)
{
    return reference_block(trial, test, false);
}

std::vector<Integral> reference_derivative(const LocalBasis& trial, const LocalBasis& test)
{
    return reference_block(trial, test, true);
}

std::vector<double> end_values(const LocalBasis& basis, bool right)
{
    std::vector<double> values = reserved_vector<double>(basis.size());
    for (std::uint64_t i = 0; i <= basis.degree; ++i) {
        if (basis.kind == BasisKind::lagrange) {
            values.push_back(i == (right ? basis.degree : 0) ? 1.0 : 0.0);
        } else {
            values.push_back(right || i % 2 == 0 ? 1.0 : -1.0);
        }
    }
    return values;
}

}  // namespace zelk::time_operators
