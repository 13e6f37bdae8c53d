// Reference-interval mass and derivative blocks: a Gauss rule of enough points, summed in double-double.
#include "time_operators/reference_integrals.hpp"

#include <cmath>

#include "fault/checked_size.hpp"
#include "fault/interrupt.hpp"
#include "time_operators/quadrature_rules.hpp"

namespace zelk::time_operators {

double rounded_integral(DoubleDouble sum, DoubleDouble magnitude) noexcept
{
    // A double-double sum of N terms errs by at most about N 2^-104 of their
    // magnitude; 2^-90 leaves room for N up to 2^14 and the rounded nodes.
    if (std::fabs(sum.hi) <= magnitude.hi * 0x1p-90) return 0.0;
    return sum.to_double();
}

namespace {

// sum over nodes of w f(trial_b) g(test_a), with f the value or the derivative.
std::vector<double> reference_block(const LocalBasis& trial, const LocalBasis& test, bool trial_derivative)
{
    const std::uint64_t nb = trial.size();
    const std::uint64_t na = test.size();
    // Gauss with n points is exact to degree 2n - 1.
    const std::uint64_t n = checked_add(trial.degree, test.degree) / 2 + 1;
    const ReferenceRule rule = reference_rule(QuadratureRule::gauss, n);
    const std::uint64_t entries = checked_mul(na, nb);
    std::vector<DoubleDouble> sum = reserved_vector<DoubleDouble>(entries);
    std::vector<DoubleDouble> magnitude = reserved_vector<DoubleDouble>(entries);
    sum.resize(entries);
    magnitude.resize(entries);
    std::vector<DoubleDouble> u(nb), du(nb), v(na), dv(na);
    InterruptCountdown countdown;
    for (std::uint64_t q = 0; q < n; ++q) {
        local_basis_values(trial, rule.nodes[q], u, du);
        local_basis_values(test, rule.nodes[q], v, dv);
        const std::vector<DoubleDouble>& f = trial_derivative ? du : u;
        for (std::uint64_t a = 0; a < na; ++a) {
            countdown.tick(nb);
            const DoubleDouble wv = rule.weights[q] * v[a];
            for (std::uint64_t b = 0; b < nb; ++b) {
                const DoubleDouble term = wv * f[b];
                sum[a * nb + b] += term;
                magnitude[a * nb + b] += abs(term);
            }
        }
    }
    std::vector<double> block = reserved_vector<double>(entries);
    const DoubleDouble scale = trial_derivative ? 1.0 : 0.5;  // exact: a power of two
    for (std::uint64_t e = 0; e < entries; ++e) block.push_back(rounded_integral(sum[e] * scale, magnitude[e]));
    return block;
}

}  // namespace

std::vector<double> reference_mass(const LocalBasis& trial, const LocalBasis& test)
{
    return reference_block(trial, test, false);
}

std::vector<double> reference_derivative(const LocalBasis& trial, const LocalBasis& test)
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
