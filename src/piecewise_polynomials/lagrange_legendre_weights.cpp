// Lagrange-to-Legendre weights: fixed tables for degree 1 and 2, the inverted Legendre-Vandermonde matrix above.
#include "piecewise_polynomials/lagrange_legendre_weights.hpp"

#include <optional>
#include <utility>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "linear_algebra/dense_inverse.hpp"
#include "piecewise_polynomials/legendre_kernels.hpp"

namespace zelk::piecewise_polynomials {

using linear_algebra::DenseMatrix;

namespace {

// Row-major (p, m) literals into a column-major table.
template <std::size_t N>
DenseMatrix table(const double (&rows)[N][N])
{
    DenseMatrix w(N, N);
    for (std::size_t p = 0; p < N; ++p) {
        for (std::size_t m = 0; m < N; ++m) w(p, m) = rows[p][m];
    }
    return w;
}

constexpr double degree1[2][2] = {
    {0.5, 0.5},
    {-0.5, 0.5},
};

// Nearest doubles to 1/6, 2/3 and 1/3.
constexpr double degree2[3][3] = {
    {0.16666666666666666, 0.6666666666666666, 0.16666666666666666},
    {-0.5, 0.0, 0.5},
    {0.3333333333333333, -0.6666666666666666, 0.3333333333333333},
};

}  // namespace

DenseMatrix legendre_vandermonde(std::uint64_t degree)
{
    const std::uint64_t n = checked_add(degree, 1);
    DenseMatrix a(n, n);
    const double d = static_cast<double>(degree);
    InterruptCountdown countdown;
    for (std::uint64_t i = 0; i < n; ++i) {
        countdown.tick(n);
        const double xi = -1.0 + ((1.0 - (-1.0)) * static_cast<double>(i)) / d;
        for_each_legendre_value(xi, degree, [&](std::uint64_t j, double p) { a(j, i) = p; });
    }
    return a;
}

DenseMatrix lagrange_to_legendre_weights(std::uint64_t degree)
{
    if (degree == 0) fail("Lagrange to Legendre conversion not meaningful for degree 0");
    if (degree == 1) return table(degree1);
    if (degree == 2) return table(degree2);

    // The inverse holds three matrices of this size at once: the Vandermonde
    // matrix, its working copy and the inverse built from the identity.
    const std::uint64_t n = checked_add(degree, 1);
    require_memory(checked_length<double>(checked_mul(n, n)), 3 * sizeof(double));
    std::optional<DenseMatrix> b = linear_algebra::try_invert(legendre_vandermonde(degree));
    if (!b) fail("Failed to invert Vandermonde matrix for Lagrange to Legendre conversion.");
    // The weights of coefficient p are column p of the inverse.
    DenseMatrix w(n, n);
    InterruptCountdown countdown;
    for (std::uint64_t p = 0; p < n; ++p) {
        countdown.tick(n);
        for (std::uint64_t m = 0; m < n; ++m) w(p, m) = (*b)(m, p);
    }
    return w;
}

}  // namespace zelk::piecewise_polynomials
