// Legendre polynomials by the shared recurrence kernel and equidistant Lagrange polynomials in product form.
#include "time_operators/reference_bases.hpp"

#include <vector>

#include "fault/checked_size.hpp"
#include "piecewise_polynomials/legendre_kernels.hpp"

namespace zelk::time_operators {

void legendre_values(DoubleDouble x, std::span<DoubleDouble> values, std::span<DoubleDouble> derivatives)
{
    const std::size_t count = values.size();
    if (count == 0) return;
    piecewise_polynomials::legendre_slope_block<piecewise_polynomials::Slopes::recurrence, 1>(
        &x, 1, count - 1, [&](std::uint64_t i, std::size_t, DoubleDouble p, DoubleDouble dp) {
            values[i] = p;
            derivatives[i] = dp;
        });
}

namespace {

// In s = p (x + 1) / 2 the nodes are the integers 0 ... p, which keeps every factor exact but one.
void lagrange_values(std::uint64_t p, DoubleDouble x, std::span<DoubleDouble> values,
                     std::span<DoubleDouble> derivatives)
{
    const DoubleDouble dp = DoubleDouble::from_u64(p);
    const DoubleDouble s = dp * (x + 1.0) * 0.5;
    std::vector<DoubleDouble> factor = reserved_vector<DoubleDouble>(p + 1);
    for (std::uint64_t m = 0; m <= p; ++m) factor.push_back(s - DoubleDouble::from_u64(m));
    // prefix[m] = product of factors before m, suffix[m] = product from m on, both without factor j.
    std::vector<DoubleDouble> prefix = reserved_vector<DoubleDouble>(checked_add(p, 2));
    std::vector<DoubleDouble> suffix = reserved_vector<DoubleDouble>(p + 2);
    prefix.resize(p + 2);
    suffix.resize(p + 2);
    for (std::uint64_t j = 0; j <= p; ++j) {
        DoubleDouble denominator = 1.0;
        for (std::uint64_t m = 0; m <= p; ++m) {
            if (m == j) continue;
            const DoubleDouble difference = m < j ? DoubleDouble::from_u64(j - m) : -DoubleDouble::from_u64(m - j);
            denominator = denominator * difference;
        }
        prefix[0] = 1.0;
        for (std::uint64_t m = 0; m <= p; ++m) prefix[m + 1] = m == j ? prefix[m] : prefix[m] * factor[m];
        suffix[p + 1] = 1.0;
        for (std::uint64_t m = p + 1; m-- > 0;) suffix[m] = m == j ? suffix[m + 1] : suffix[m + 1] * factor[m];
        DoubleDouble slope = 0.0;
        for (std::uint64_t m = 0; m <= p; ++m) {
            if (m != j) slope = slope + prefix[m] * suffix[m + 1];
        }
        values[j] = prefix[p + 1] / denominator;
        derivatives[j] = slope * dp * 0.5 / denominator;  // d/dx = (p / 2) d/ds
    }
}

}  // namespace

void local_basis_values(const LocalBasis& basis, DoubleDouble x, std::span<DoubleDouble> values,
                        std::span<DoubleDouble> derivatives)
{
    if (basis.kind == BasisKind::legendre) {
        legendre_values(x, values, derivatives);
    } else {
        lagrange_values(basis.degree, x, values, derivatives);
    }
}

}  // namespace zelk::time_operators
