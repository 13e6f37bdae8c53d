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

// In s = p (x + 1) / 2 the nodes are the integers 0 ... p, which keeps every
// factor exact but one. l_j is the product of the factors s - m, m != j, over
// that of j - m = (-1)^(p - j) j! (p - j)!: prefix and suffix products (with
// their derivatives) give all of them in O(p).
void lagrange_values(std::uint64_t p, DoubleDouble x, std::span<DoubleDouble> values,
                     std::span<DoubleDouble> derivatives)
{
    const DoubleDouble dp = DoubleDouble::from_u64(p);
    const DoubleDouble s = dp * (x + 1.0) * 0.5;
    std::vector<DoubleDouble> factor = reserved_vector<DoubleDouble>(p + 1);
    for (std::uint64_t m = 0; m <= p; ++m) factor.push_back(s - DoubleDouble::from_u64(m));
    // prefix[m]: the product of the factors before m; suffix[m]: from m on; slopes: their s-derivatives.
    std::vector<DoubleDouble> prefix = reserved_vector<DoubleDouble>(checked_add(p, 2));
    std::vector<DoubleDouble> prefix_slope = reserved_vector<DoubleDouble>(p + 2);
    std::vector<DoubleDouble> suffix = reserved_vector<DoubleDouble>(p + 2);
    std::vector<DoubleDouble> suffix_slope = reserved_vector<DoubleDouble>(p + 2);
    prefix.resize(p + 2);
    prefix_slope.resize(p + 2);
    suffix.resize(p + 2);
    suffix_slope.resize(p + 2);
    prefix[0] = 1.0;
    prefix_slope[0] = 0.0;
    for (std::uint64_t m = 0; m <= p; ++m) {
        prefix_slope[m + 1] = prefix_slope[m] * factor[m] + prefix[m];
        prefix[m + 1] = prefix[m] * factor[m];
    }
    suffix[p + 1] = 1.0;
    suffix_slope[p + 1] = 0.0;
    for (std::uint64_t m = p + 1; m-- > 0;) {
        suffix_slope[m] = suffix_slope[m + 1] * factor[m] + suffix[m + 1];
        suffix[m] = suffix[m + 1] * factor[m];
    }
    // factorial[k] = k!, rounded as the products of the differences always were.
    std::vector<DoubleDouble> factorial = reserved_vector<DoubleDouble>(p + 1);
    factorial.push_back(1.0);
    for (std::uint64_t k = 1; k <= p; ++k) factorial.push_back(factorial[k - 1] * DoubleDouble::from_u64(k));
    for (std::uint64_t j = 0; j <= p; ++j) {
        DoubleDouble denominator = factorial[j] * factorial[p - j];
        if ((p - j) % 2 == 1) denominator = -denominator;
        const DoubleDouble slope = prefix_slope[j] * suffix[j + 1] + prefix[j] * suffix_slope[j + 1];
        values[j] = prefix[j] * suffix[j + 1] / denominator;
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
