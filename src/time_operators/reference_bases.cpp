// Legendre polynomials by the shared recurrence kernel and equidistant Lagrange polynomials in product form.
#include "time_operators/reference_bases.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
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

// x 2^-e for a double-double: exact for both parts while neither leaves the normal range.
DoubleDouble scaled(DoubleDouble x, int e) noexcept
{
    return {std::ldexp(x.hi, -e), std::ldexp(x.lo, -e)};
}

// Brings the larger of a value and its slope near 1 by one power of two,
// returned as its exponent (0 for two zeros).
int normalise(DoubleDouble& value, DoubleDouble& slope) noexcept
{
    int e = 0;
    std::frexp(std::max(std::fabs(value.hi), std::fabs(slope.hi)), &e);
    value = scaled(value, e);
    slope = scaled(slope, e);
    return e;
}

// In s = p (x + 1) / 2 the nodes are the integers 0 ... p, which keeps every
// factor exact but one. l_j is the product of the factors s - m, m != j, over
// that of j - m = (-1)^(p - j) j! (p - j)!: prefix and suffix products (with
// their derivatives) give all of them in O(p).
// Those products pass the double range from degree 171 on (p! > 2^1024), so
// each is kept as a double-double near 1 times a power of two. Every
// double-double step scales exactly with its operands, so where the plain
// products stay finite and normal the results have the same bits; a value
// beyond the range is an overflow fault instead of an infinity or a NaN; a
// derivative beyond it comes out infinite, for the integrals to report.
void lagrange_values(std::uint64_t p, DoubleDouble x, std::span<DoubleDouble> values,
                     std::span<DoubleDouble> derivatives)
{
    const DoubleDouble dp = DoubleDouble::from_u64(p);
    const DoubleDouble s = dp * (x + 1.0) * 0.5;
    std::vector<DoubleDouble> factor = reserved_vector<DoubleDouble>(p + 1);
    for (std::uint64_t m = 0; m <= p; ++m) factor.push_back(s - DoubleDouble::from_u64(m));
    // prefix[m]: the product of the factors before m; suffix[m]: from m on; slopes: their s-derivatives;
    // each pair times 2^(its exponent).
    std::vector<DoubleDouble> prefix = reserved_vector<DoubleDouble>(checked_add(p, 2));
    std::vector<DoubleDouble> prefix_slope = reserved_vector<DoubleDouble>(p + 2);
    std::vector<DoubleDouble> suffix = reserved_vector<DoubleDouble>(p + 2);
    std::vector<DoubleDouble> suffix_slope = reserved_vector<DoubleDouble>(p + 2);
    std::vector<std::int64_t> prefix_exponent = reserved_vector<std::int64_t>(p + 2);
    std::vector<std::int64_t> suffix_exponent = reserved_vector<std::int64_t>(p + 2);
    prefix.resize(p + 2);
    prefix_slope.resize(p + 2);
    suffix.resize(p + 2);
    suffix_slope.resize(p + 2);
    prefix_exponent.resize(p + 2);
    suffix_exponent.resize(p + 2);
    prefix[0] = 1.0;
    prefix_slope[0] = 0.0;
    prefix_exponent[0] = 0;
    for (std::uint64_t m = 0; m <= p; ++m) {
        prefix_slope[m + 1] = prefix_slope[m] * factor[m] + prefix[m];
        prefix[m + 1] = prefix[m] * factor[m];
        prefix_exponent[m + 1] = prefix_exponent[m] + normalise(prefix[m + 1], prefix_slope[m + 1]);
    }
    suffix[p + 1] = 1.0;
    suffix_slope[p + 1] = 0.0;
    suffix_exponent[p + 1] = 0;
    for (std::uint64_t m = p + 1; m-- > 0;) {
        suffix_slope[m] = suffix_slope[m + 1] * factor[m] + suffix[m + 1];
        suffix[m] = suffix[m + 1] * factor[m];
        suffix_exponent[m] = suffix_exponent[m + 1] + normalise(suffix[m], suffix_slope[m]);
    }
    // factorial[k] 2^factorial_exponent[k] = k!, rounded as the products of the differences always were.
    std::vector<DoubleDouble> factorial = reserved_vector<DoubleDouble>(p + 1);
    std::vector<std::int64_t> factorial_exponent = reserved_vector<std::int64_t>(p + 1);
    factorial.push_back(1.0);
    factorial_exponent.push_back(0);
    for (std::uint64_t k = 1; k <= p; ++k) {
        DoubleDouble next = factorial[k - 1] * DoubleDouble::from_u64(k);
        DoubleDouble unused = 0.0;
        factorial_exponent.push_back(factorial_exponent[k - 1] + normalise(next, unused));
        factorial.push_back(next);
    }
    // Exponents grow by a few thousand per degree at most: clamped, they still overflow or vanish alike.
    const auto restored = [](DoubleDouble v, std::int64_t e) {
        return scaled(v, static_cast<int>(std::clamp<std::int64_t>(-e, -100000, 100000)));
    };
    for (std::uint64_t j = 0; j <= p; ++j) {
        DoubleDouble denominator = factorial[j] * factorial[p - j];
        if ((p - j) % 2 == 1) denominator = -denominator;
        const std::int64_t e = prefix_exponent[j] + suffix_exponent[j + 1] - factorial_exponent[j] -
                               factorial_exponent[p - j];
        const DoubleDouble slope = prefix_slope[j] * suffix[j + 1] + prefix[j] * suffix_slope[j + 1];
        values[j] = restored(prefix[j] * suffix[j + 1] / denominator, e);
        derivatives[j] = restored(slope * dp * 0.5 / denominator, e);  // d/dx = (p / 2) d/ds
        if (!std::isfinite(values[j].hi)) {
            fail_overflow("the equidistant Lagrange basis of degree " + std::to_string(p) +
                          " has values beyond the double range");
        }
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
