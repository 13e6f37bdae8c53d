// Dense inverse: exact and singular cases, pivot choice, NaN handling, and A * A^-1 close to I.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <vector>

#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "linear_algebra/dense_inverse.hpp"

using namespace zelk::linear_algebra;

namespace {

// Row-major literal -> column-major matrix.
DenseMatrix from_rows(const std::vector<std::vector<double>>& rows)
{
    DenseMatrix m(rows.size(), rows.empty() ? 0 : rows[0].size());
    for (std::uint64_t i = 0; i < m.nrows(); ++i) {
        for (std::uint64_t j = 0; j < m.ncols(); ++j) m(i, j) = rows[i][j];
    }
    return m;
}

// A[j][i] = P_j(xi_i) at n equidistant nodes of [-1, 1], by the three-term recurrence.
DenseMatrix legendre_vandermonde(std::uint64_t n)
{
    DenseMatrix a(n, n);
    for (std::uint64_t i = 0; i < n; ++i) {
        const double x = -1.0 + 2.0 * static_cast<double>(i) / static_cast<double>(n - 1);
        double prev = 1.0, cur = x;
        a(0, i) = 1.0;
        if (n > 1) a(1, i) = x;
        for (std::uint64_t j = 1; j + 1 < n; ++j) {
            const double k = static_cast<double>(j);
            const double next = ((2.0 * k + 1.0) * x * cur - k * prev) / (k + 1.0);
            prev = cur;
            cur = next;
            a(j + 1, i) = next;
        }
    }
    return a;
}

// Largest |(A * B - I)(i, j)|, accumulated in long double to keep the check itself accurate.
double distance_from_identity(const DenseMatrix& a, const DenseMatrix& b)
{
    const std::uint64_t n = a.nrows();
    double worst = 0.0;
    for (std::uint64_t i = 0; i < n; ++i) {
        for (std::uint64_t j = 0; j < n; ++j) {
            long double s = 0.0L;
            for (std::uint64_t k = 0; k < n; ++k) s += static_cast<long double>(a(i, k)) * b(k, j);
            worst = std::max(worst, static_cast<double>(std::fabs(s - (i == j ? 1.0L : 0.0L))));
        }
    }
    return worst;
}

bool same_matrix(const DenseMatrix& a, const DenseMatrix& b)
{
    return a.nrows() == b.nrows() && a.ncols() == b.ncols() && a.values() == b.values();
}

constexpr double eps = std::numeric_limits<double>::epsilon();

}  // namespace

TEST(DenseInverse, IdentitiesInvertExactlyAtEverySize)
{
    for (std::uint64_t n : {0u, 1u, 2u, 3u, 4u, 5u, 7u}) {
        const DenseMatrix id = DenseMatrix::identity(n);
        const std::optional<DenseMatrix> inv = try_invert(id);
        ASSERT_TRUE(inv.has_value()) << n;
        EXPECT_TRUE(same_matrix(*inv, id)) << n;
    }
}

TEST(DenseInverse, TinyDeterminantIsUsedNotRejected)
{
    for (std::uint64_t n : {4u, 6u}) {
        DenseMatrix a = DenseMatrix::identity(n);
        a(2, 2) = 1e-300;
        const auto inv = try_invert(a);
        ASSERT_TRUE(inv.has_value()) << n;
        EXPECT_EQ((*inv)(2, 2), 1.0 / 1e-300) << n;
        // The cofactor path scales by 1/det = 1e300, so its ones may be off by an ulp.
        EXPECT_NEAR((*inv)(0, 0), 1.0, 2 * eps) << n;
    }
}

TEST(DenseInverse, ExactZeroDeterminantOrPivotFails)
{
    const DenseMatrix equal_rows = from_rows({{1, 2, 3, 4}, {5, 6, 7, 8}, {1, 2, 3, 4}, {2, 0, 1, 3}});
    EXPECT_FALSE(do_inverse4(equal_rows).has_value());
    EXPECT_FALSE(try_invert(equal_rows).has_value());

    DenseMatrix zero_column =
        from_rows({{4, 1, 0, 2, 1}, {1, 5, 0, 1, 2}, {2, 1, 0, 6, 1}, {1, 2, 0, 1, 7}, {3, 1, 0, 2, 1}});
    const DenseMatrix original = zero_column;
    EXPECT_FALSE(try_invert(zero_column).has_value());
    EXPECT_TRUE(same_matrix(zero_column, original));  // the input is never touched

    // Columns 0 and 1 eliminate cleanly; column 2 is a multiple of column 0,
    // so its candidates below the diagonal become exact zeros at step 2.
    DenseMatrix dependent =
        from_rows({{1, 0, 2, 0, 0}, {0, 1, 0, 0, 0}, {1, 0, 2, 1, 0}, {0, 0, 0, 1, 1}, {0, 0, 0, 0, 1}});
    EXPECT_FALSE(try_invert_to(dependent).has_value());
}

TEST(DenseInverse, ZeroLeadingEntryNeedsARowSwap)
{
    const DenseMatrix a =
        from_rows({{0, 2, 1, 0, 1}, {3, 1, 0, 1, 0}, {1, 0, 4, 1, 2}, {0, 1, 1, 5, 1}, {2, 0, 1, 1, 6}});
    const auto inv = try_invert(a);
    ASSERT_TRUE(inv.has_value());
    EXPECT_LT(distance_from_identity(a, *inv), 16 * eps);
    EXPECT_LT(distance_from_identity(*inv, a), 16 * eps);
}

TEST(DenseInverse, PivotTieGoesToTheUpperRow)
{
    // Column 0 offers 2.0 (row 1) and -2.0 (row 3) as the largest magnitudes.
    const DenseMatrix a =
        from_rows({{1, 1, 0, 0, 1}, {2, 0, 1, 0, 0}, {0, 3, 1, 1, 0}, {-2, 1, 0, 4, 0}, {1, 0, 0, 1, 5}});
    DenseMatrix work = a;
    ASSERT_TRUE(try_invert_to(work).has_value());
    // Row 1 was swapped to the top and is U's first row unchanged; row 3's multiplier is -1.
    for (std::uint64_t j = 0; j < 5; ++j) EXPECT_EQ(work(0, j), a(1, j)) << j;
    EXPECT_EQ(work(3, 0), -1.0);
    // The former row 0 went to row 1, then to row 2 with column 1's pivot
    // (3.0 in the former row 2), taking its multiplier 0.5 along.
    EXPECT_EQ(work(2, 0), 0.5);
    EXPECT_EQ(work(1, 0), 0.0);
}

TEST(DenseInverse, NaNIsNotZero)
{
    DenseMatrix four = DenseMatrix::identity(4);
    four(1, 1) = std::nan("");
    const auto inv4 = try_invert(four);
    ASSERT_TRUE(inv4.has_value());
    EXPECT_TRUE(std::isnan((*inv4)(0, 0)));

    DenseMatrix five = DenseMatrix::identity(5);
    five(0, 0) = std::nan("");
    const auto inv5 = try_invert(five);
    ASSERT_TRUE(inv5.has_value());
    EXPECT_TRUE(std::isnan((*inv5)(0, 0)));
}

TEST(DenseInverse, LegendreVandermondeToAFewUlps)
{
    for (std::uint64_t n : {4u, 5u, 6u}) {
        const DenseMatrix a = legendre_vandermonde(n);
        const auto inv = try_invert(a);
        ASSERT_TRUE(inv.has_value()) << n;
        EXPECT_LE(distance_from_identity(a, *inv), 4 * eps) << n;
    }
}

TEST(DenseInverse, RandomWellConditionedMatrices)
{
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> entry(-1.0, 1.0);
    for (std::uint64_t n = 1; n <= 12; ++n) {
        for (int trial = 0; trial < 20; ++trial) {
            // Diagonally dominant, with a random sign on the diagonal.
            DenseMatrix a(n, n);
            for (std::uint64_t i = 0; i < n; ++i) {
                for (std::uint64_t j = 0; j < n; ++j) a(i, j) = entry(rng);
                a(i, i) += (entry(rng) < 0 ? -1.0 : 1.0) * static_cast<double>(n);
            }
            const auto inv = try_invert(a);
            ASSERT_TRUE(inv.has_value()) << n;
            EXPECT_LT(distance_from_identity(a, *inv), 8 * eps) << "n = " << n << ", trial " << trial;
        }
    }
    // The cofactor path on general 4 x 4 matrices, not only dominant ones.
    for (int trial = 0; trial < 200; ++trial) {
        DenseMatrix a(4, 4);
        for (std::uint64_t k = 0; k < 16; ++k) a(k % 4, k / 4) = entry(rng);
        const auto inv = do_inverse4(a);
        ASSERT_TRUE(inv.has_value());
        double size = 0.0;
        for (double v : inv->values()) size = std::max(size, std::fabs(v));
        EXPECT_LT(distance_from_identity(a, *inv), 64 * eps * std::max(1.0, size)) << "trial " << trial;
    }
}

TEST(DenseInverse, ShapeFaults)
{
    EXPECT_THROW(try_invert(DenseMatrix(3, 4)), zelk::Fault);
    EXPECT_THROW(do_inverse4(DenseMatrix::identity(5)), zelk::Fault);
    DenseMatrix lu = DenseMatrix::identity(3);
    DenseMatrix rhs(2, 3);
    EXPECT_THROW(solve_upper_triangular_mut(lu, rhs), zelk::Fault);
    EXPECT_THROW(solve_lower_triangular_with_diag_mut(lu, rhs, 1.0), zelk::Fault);
}

TEST(DenseInverse, InterruptCheckStopsTheFactorisation)
{
    static int calls = 0;
    struct Stop {};
    zelk::set_interrupt_check([] {
        if (++calls == 3) throw Stop{};
    });
    calls = 0;
    EXPECT_THROW(zelk::linear_algebra::try_invert(zelk::linear_algebra::DenseMatrix::identity(6)), Stop);
    zelk::set_interrupt_check(nullptr);
    EXPECT_TRUE(zelk::linear_algebra::try_invert(zelk::linear_algebra::DenseMatrix::identity(6)).has_value());
}
