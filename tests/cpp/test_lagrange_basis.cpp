// LagrangeBasis matrices: the coarse-to-fine prolongation and the Lagrange-to-Legendre transformation.
#include <gtest/gtest.h>

#include "fault_message.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "fault/fault.hpp"
#include "linear_algebra/csr_matrix.hpp"
#include "piecewise_polynomials/lagrange_basis.hpp"
#include "piecewise_polynomials/lagrange_legendre_weights.hpp"
#include "piecewise_polynomials/lagrange_prolongation.hpp"
#include "sparse_matrix_tools/csr_to_triplets.hpp"

using zelk::linear_algebra::CsrMatrix;
using zelk::piecewise_polynomials::lagrange_prolongation;
using zelk::piecewise_polynomials::LagrangeBasis;
using zelk::piecewise_polynomials::legendre_vandermonde;
using zelk::sparse_matrix_tools::csr_to_triplets;
using zelk::sparse_matrix_tools::Triplets;
using U64s = std::vector<std::uint64_t>;

namespace {

constexpr std::uint64_t u64_max = std::numeric_limits<std::uint64_t>::max();

// Arguments in the order of the Python function: (nt_coarse, nt_fine, degree).
CsrMatrix prolongation(std::uint64_t nt_coarse, std::uint64_t nt_fine, std::uint64_t degree)
{
    return LagrangeBasis::new_(degree, nt_coarse, 1.0).get_prolongation_matrix_to(nt_fine);
}

CsrMatrix transformation(std::uint64_t degree, std::uint64_t n_t)
{
    return LagrangeBasis::new_(degree, n_t, 1.0).get_transormation_matrix_to_legendre();
}

void expect_triplets(const CsrMatrix& m, const U64s& rows, const U64s& cols, const std::vector<double>& values)
{
    const Triplets t = csr_to_triplets(m);
    EXPECT_EQ(t.row_indices, rows);
    EXPECT_EQ(t.col_indices, cols);
    ASSERT_EQ(t.values.size(), values.size());
    for (std::size_t k = 0; k < values.size(); ++k) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(t.values[k]), std::bit_cast<std::uint64_t>(values[k]))
            << "entry " << k << ": " << t.values[k] << " vs " << values[k];
    }
}

// Dense copy of a small sparse matrix, row-major.
std::vector<std::vector<double>> dense(const CsrMatrix& m)
{
    std::vector<std::vector<double>> out(m.nrows(), std::vector<double>(m.ncols(), 0.0));
    m.for_each_entry([&](std::uint64_t r, std::uint64_t c, double v) { out[r][c] = v; });
    return out;
}

double poly(const std::vector<double>& coefficients, double x)
{
    double y = 0.0;
    for (std::size_t k = coefficients.size(); k-- > 0;) y = y * x + coefficients[k];
    return y;
}

}  // namespace

// ---- prolongation ----

struct ProlongationCase {
    std::uint64_t nt_coarse, nt_fine, degree;
    U64s rows, cols;
    std::vector<double> values;
};

// Printed and named by the grid, not as GoogleTest's raw byte dump of the case.
std::string grid_name(const ProlongationCase& c)
{
    return "coarse" + std::to_string(c.nt_coarse) + "_fine" + std::to_string(c.nt_fine) + "_degree" +
           std::to_string(c.degree);
}

void PrintTo(const ProlongationCase& c, std::ostream* os)
{
    *os << grid_name(c);
}

class ProlongationExact : public ::testing::TestWithParam<ProlongationCase> {};

TEST_P(ProlongationExact, TripletsToTheLastBit)
{
    const ProlongationCase& c = GetParam();
    const CsrMatrix m = prolongation(c.nt_coarse, c.nt_fine, c.degree);
    EXPECT_EQ(m.nrows(), c.nt_fine * c.degree + 1);
    EXPECT_EQ(m.ncols(), c.nt_coarse * c.degree + 1);
    expect_triplets(m, c.rows, c.cols, c.values);
    // The free function is the same operation without the coarse points.
    expect_triplets(lagrange_prolongation(c.degree, c.nt_coarse, c.nt_fine), c.rows, c.cols, c.values);
}

INSTANTIATE_TEST_SUITE_P(
    SmallGrids, ProlongationExact,
    ::testing::Values(ProlongationCase{1, 2, 1, {0, 1, 1, 2}, {0, 0, 1, 1}, {1.0, 0.5, 0.5, 1.0}},
                      ProlongationCase{1, 1, 2, {0, 1, 2}, {0, 1, 2}, {1.0, 1.0, 1.0}},
                      // Row 3's last bits come from the barycentric order: w_k / (xi - r_k), summed, then divided.
                      ProlongationCase{1,
                                       2,
                                       2,
                                       {0, 1, 1, 1, 2, 3, 3, 3, 4},
                                       {0, 0, 1, 2, 1, 0, 1, 2, 2},
                                       {1.0, 0.375, 0.75, -0.125, 1.0, -0.12499999999999999, 0.7499999999999999,
                                        0.37499999999999994, 1.0}},
                      ProlongationCase{2, 1, 1, {0, 1}, {0, 2}, {1.0, 1.0}},
                      ProlongationCase{3, 2, 1, {0, 1, 1, 2}, {0, 1, 2, 3}, {1.0, 0.5, 0.5, 1.0}}),
    [](const ::testing::TestParamInfo<ProlongationCase>& info) { return grid_name(info.param); });

TEST(Prolongation, ChecksComeFirstAndInOrder)
{
    const std::string degree = "Lagrange prolongation requires polynomial degree at least 1";
    const std::string coarse = "Lagrange prolongation requires at least one coarse interval";
    const std::string fine = "Lagrange prolongation requires at least one fine interval";
    EXPECT_EQ(fault_message([] { prolongation(0, 0, 0); }), degree);
    EXPECT_EQ(fault_message([] { prolongation(5, 5, 0); }), degree);
    EXPECT_EQ(fault_message([] { prolongation(0, 3, 1); }), coarse);
    EXPECT_EQ(fault_message([] { prolongation(0, 0, 1); }), coarse);
    EXPECT_EQ(fault_message([] { prolongation(2, 0, 1); }), fine);
    // Before any size is formed: these sizes would overflow or never fit.
    EXPECT_EQ(fault_message([] { lagrange_prolongation(u64_max, 0, u64_max); }), coarse);
    EXPECT_EQ(fault_message([] { lagrange_prolongation(1, 1000000000000, 0); }), fine);
}

TEST(Prolongation, SizesFromArgumentsAreChecked)
{
    // 10^12 coarse intervals but two fine ones: three entries, no coarse points built.
    const CsrMatrix wide = lagrange_prolongation(1, 1000000000000, 2);
    EXPECT_EQ(wide.ncols(), 1000000000001u);
    expect_triplets(wide, {0, 1, 2}, {0, 500000000000, 1000000000000}, {1.0, 1.0, 1.0});

    EXPECT_EQ(fault_message([] { lagrange_prolongation(4, 1, std::uint64_t{1} << 63); }), "capacity overflow");
    EXPECT_EQ(fault_message([] { lagrange_prolongation(1, u64_max, 1); }), "capacity overflow");
    EXPECT_EQ(fault_message([] { lagrange_prolongation(u64_max, 1, 1); }), "capacity overflow");
    EXPECT_THROW(lagrange_prolongation(1, 1, 1000000000000), std::bad_alloc);
    // The entry bound (rows * (degree + 1)) fails before the O(degree^2) weights run.
    EXPECT_THROW(lagrange_prolongation(1000000, 1, 1), std::bad_alloc);
}

TEST(Prolongation, LastFinePointOfAHugeCoarseGridStaysInRange)
{
    // double(nt_coarse) rounds up to 2^64 here, so floor(s) cannot be converted as it is.
    const std::uint64_t nc = u64_max - 1;
    const CsrMatrix m = lagrange_prolongation(1, nc, 1);
    expect_triplets(m, {0, 1}, {0, nc - 1}, {1.0, 1.0});
}

TEST(Prolongation, StructureAndEntryCounts)
{
    for (std::uint64_t p = 1; p <= 5; ++p) {
        for (std::uint64_t nc = 1; nc <= 6; ++nc) {
            for (std::uint64_t nf = 1; nf <= 7; ++nf) {
                const CsrMatrix m = prolongation(nc, nf, p);
                const auto& off = m.row_offsets();
                const auto& col = m.col_indices();
                for (double v : m.values()) EXPECT_NE(v, 0.0) << nc << " " << nf << " " << p;
                for (std::uint64_t r = 0; r < m.nrows(); ++r) {
                    const std::uint64_t count = off[r + 1] - off[r];
                    ASSERT_GE(count, 1u);
                    ASSERT_LE(count, p + 1);
                    if (count == 1) {
                        EXPECT_EQ(m.values()[off[r]], 1.0);
                    } else {
                        // All within one coarse sub-interval: columns j p ... j p + p.
                        EXPECT_LE(col[off[r + 1] - 1] - col[off[r]], p);
                    }
                }
                // Interval ends coincide with coarse nodes: first and last rows are single 1.0s.
                EXPECT_EQ(off[1], 1u);
                EXPECT_EQ(col.back(), m.ncols() - 1);
                EXPECT_EQ(m.values().back(), 1.0);
            }
        }
    }
}

TEST(Prolongation, NaNFromOverflowingWeightsIsKept)
{
    // At degree 750 the barycentric sums overflow and every off-node value is
    // NaN; only exact zeros may be dropped, so each such row keeps p + 1 entries.
    const std::uint64_t p = 750;
    const CsrMatrix m = lagrange_prolongation(p, 1, 2);
    ASSERT_EQ(m.nrows(), 2 * p + 1);
    for (std::uint64_t r = 0; r < m.nrows(); ++r) {
        const std::uint64_t begin = m.row_offsets()[r];
        const std::uint64_t count = m.row_offsets()[r + 1] - begin;
        if (r % 2 == 0) {
            ASSERT_EQ(count, 1u) << r;  // fine point on a coarse node
            EXPECT_EQ(m.values()[begin], 1.0);
        } else {
            ASSERT_EQ(count, p + 1) << r;
            EXPECT_TRUE(std::isnan(m.values()[begin])) << r;
        }
    }
}

TEST(Prolongation, ReproducesPolynomialsOfTheDegree)
{
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> coefficient(-1.0, 1.0);
    for (std::uint64_t p = 1; p <= 6; ++p) {
        for (auto [nc, nf] : {std::pair<std::uint64_t, std::uint64_t>{1, 3}, {2, 5}, {4, 3}, {3, 7}}) {
            std::vector<double> c(p + 1);
            for (double& x : c) x = coefficient(rng);
            // Coarse nodal values; the piecewise polynomial is one global polynomial.
            const auto coarse_points = LagrangeBasis::new_(p, nc, 1.0).points;
            const auto fine_points = LagrangeBasis::new_(p, nf, 1.0).points;
            const auto P = dense(prolongation(nc, nf, p));
            for (std::size_t r = 0; r < fine_points.size(); ++r) {
                double y = 0.0;
                for (std::size_t k = 0; k < coarse_points.size(); ++k) y += P[r][k] * poly(c, coarse_points[k]);
                EXPECT_NEAR(y, poly(c, fine_points[r]), 1e-12) << "p " << p << ", row " << r;
            }
        }
    }
}

// ---- Lagrange to Legendre ----

TEST(LagrangeToLegendre, FixedTablesExactly)
{
    expect_triplets(transformation(1, 2), {0, 0, 1, 1, 2, 2, 3, 3}, {0, 1, 1, 2, 0, 1, 1, 2},
                    {0.5, 0.5, 0.5, 0.5, -0.5, 0.5, -0.5, 0.5});
    // The 0.0 weight is a stored entry.
    expect_triplets(transformation(2, 1), {0, 0, 0, 1, 1, 1, 2, 2, 2}, {0, 1, 2, 0, 1, 2, 0, 1, 2},
                    {0.16666666666666666, 0.6666666666666666, 0.16666666666666666, -0.5, 0.0, 0.5, 0.3333333333333333,
                     -0.6666666666666666, 0.3333333333333333});
}

TEST(LagrangeToLegendre, LayoutAndEntryCounts)
{
    for (std::uint64_t d = 1; d <= 6; ++d) {
        for (std::uint64_t n_t : {1u, 2u, 3u, 5u}) {
            const CsrMatrix m = transformation(d, n_t);
            EXPECT_EQ(m.nrows(), (d + 1) * n_t);
            EXPECT_EQ(m.ncols(), n_t * d + 1);
            EXPECT_EQ(m.nnz(), (d + 1) * (d + 1) * n_t);
            // Row p n_t + k: columns k d ... k d + d, holding the weights of the single-interval matrix.
            const auto one = dense(transformation(d, 1));
            const auto& off = m.row_offsets();
            for (std::uint64_t p = 0; p <= d; ++p) {
                for (std::uint64_t k = 0; k < n_t; ++k) {
                    const std::uint64_t r = p * n_t + k;
                    ASSERT_EQ(off[r + 1] - off[r], d + 1);
                    for (std::uint64_t m_ = 0; m_ <= d; ++m_) {
                        EXPECT_EQ(m.col_indices()[off[r] + m_], k * d + m_);
                        EXPECT_EQ(m.values()[off[r] + m_], one[p][m_]);
                    }
                }
            }
            // Each row block on its own is the matching slice.
            const LagrangeBasis basis = LagrangeBasis::new_(d, n_t, 1.0);
            const CsrMatrix block = basis.to_legendre_basis_matrix_for_pol_degree(d);
            EXPECT_EQ(block.nrows(), n_t);
            EXPECT_EQ(block.ncols(), n_t * d + 1);
            const std::uint64_t first = off[d * n_t];
            for (std::uint64_t e = 0; e < block.nnz(); ++e) {
                EXPECT_EQ(block.col_indices()[e], m.col_indices()[first + e]);
                EXPECT_EQ(block.values()[e], m.values()[first + e]);
            }
        }
    }
}

TEST(LagrangeToLegendre, InvertedVandermondeMatchesTheRationalWeights)
{
    const std::vector<std::vector<double>> three = {{1 / 8., 3 / 8., 3 / 8., 1 / 8.},
                                                    {-11 / 40., -27 / 40., 27 / 40., 11 / 40.},
                                                    {3 / 8., -3 / 8., -3 / 8., 3 / 8.},
                                                    {-9 / 40., 27 / 40., -27 / 40., 9 / 40.}};
    const std::vector<std::vector<double>> four = {{7 / 90., 16 / 45., 2 / 15., 16 / 45., 7 / 90.},
                                                   {-7 / 30., -8 / 15., 0., 8 / 15., 7 / 30.},
                                                   {17 / 63., 16 / 63., -22 / 21., 16 / 63., 17 / 63.},
                                                   {-4 / 15., 8 / 15., 0., -8 / 15., 4 / 15.},
                                                   {16 / 105., -64 / 105., 32 / 35., -64 / 105., 16 / 105.}};
    for (const auto* want : {&three, &four}) {
        const std::uint64_t d = want->size() - 1;
        const CsrMatrix m = transformation(d, 1);
        EXPECT_EQ(m.nnz(), (d + 1) * (d + 1));  // weights that are 0 in exact arithmetic are stored too
        const auto got = dense(m);
        for (std::uint64_t p = 0; p <= d; ++p) {
            for (std::uint64_t k = 0; k <= d; ++k) EXPECT_NEAR(got[p][k], (*want)[p][k], 1e-15) << d << p << k;
        }
    }
}

TEST(LagrangeToLegendre, TimesVandermondeIsCloseToIdentity)
{
    for (std::uint64_t d = 3; d <= 8; ++d) {
        const auto w = dense(transformation(d, 1));
        const auto v = legendre_vandermonde(d);  // v(j, m) = P_j(xi_m)
        double worst = 0.0;
        for (std::uint64_t p = 0; p <= d; ++p) {
            for (std::uint64_t j = 0; j <= d; ++j) {
                double s = 0.0;
                for (std::uint64_t m = 0; m <= d; ++m) s += w[p][m] * v(j, m);
                worst = std::max(worst, std::fabs(s - (p == j ? 1.0 : 0.0)));
            }
        }
        EXPECT_LT(worst, 1e-13) << "degree " << d;
    }
}

TEST(LagrangeToLegendre, DegenerateGridsAndFaults)
{
    for (std::uint64_t d : {1u, 2u, 4u}) {
        const CsrMatrix empty = transformation(d, 0);
        EXPECT_EQ(empty.nrows(), 0u);
        EXPECT_EQ(empty.ncols(), 1u);
        EXPECT_EQ(empty.nnz(), 0u);
    }
    const std::string degree0 = "Lagrange to Legendre conversion not meaningful for degree 0";
    EXPECT_EQ(fault_message([] { transformation(0, 3); }), degree0);
    EXPECT_EQ(fault_message([] { transformation(0, 0); }), degree0);
    EXPECT_EQ(fault_message([] { LagrangeBasis::new_(0, 0, 1.0).to_legendre_basis_matrix_for_pol_degree(7); }),
              degree0);
    EXPECT_EQ(fault_message([] { LagrangeBasis::new_(2, 3, 1.0).to_legendre_basis_matrix_for_pol_degree(3); }),
              "Legendre degree 3 exceeds the basis degree 2");
    // A record whose sizes were never built: the weight table cannot be sized.
    EXPECT_EQ(fault_message([] { LagrangeBasis{{1.0}, u64_max, 0}.get_transormation_matrix_to_legendre(); }),
              "capacity overflow");
}
