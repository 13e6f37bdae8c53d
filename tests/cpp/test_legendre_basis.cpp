// Piecewise Legendre evaluation: locating t, exact bits, end derivatives, table checks, sizes, long-double cross-check.
#include <gtest/gtest.h>

#include "fault_message.hpp"

#include <cmath>
#include <cstdint>
#include <ios>
#include <limits>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "fault/fault.hpp"
#include "linear_algebra/dense_matrix.hpp"
#include "piecewise_polynomials/legendre_basis.hpp"
#include "piecewise_polynomials/time_grid_location.hpp"

using zelk::linear_algebra::DenseMatrixView;
using zelk::piecewise_polynomials::LegendreBasis;
using zelk::piecewise_polynomials::locate_time;
using zelk::piecewise_polynomials::saturating_floor_to_u64;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr std::uint64_t u64_max = std::numeric_limits<std::uint64_t>::max();
const double not_a_number = std::numeric_limits<double>::quiet_NaN();

DenseMatrixView table(const std::vector<double>& values, std::uint64_t nrows, std::uint64_t ncols)
{
    return DenseMatrixView::column_major(values, nrows, ncols);
}

void expect_same_bits(double got, double want, const std::string& what)
{
    if (std::isnan(want)) {
        EXPECT_TRUE(std::isnan(got)) << what << ": " << got;
        return;
    }
    EXPECT_EQ(got, want) << what << ": " << std::hexfloat << got << " vs " << want;
    EXPECT_EQ(std::signbit(got), std::signbit(want)) << what;
}

// Coefficients 1, 2, 3, ... in table order: a(k, i) = 1 + k + i * n_t.
std::vector<double> counting(std::uint64_t n_t, std::uint64_t degree)
{
    std::vector<double> v;
    for (std::uint64_t i = 0; i < n_t * (degree + 1); ++i) v.push_back(static_cast<double>(i + 1));
    return v;
}

}  // namespace

TEST(LegendreLocation, SaturatingFloor)
{
    const struct {
        double q;
        std::uint64_t k;
    } cases[] = {
        {-0.5, 0},
        {-inf, 0},
        {not_a_number, 0},
        {-0.0, 0},
        {0.9999999999999999, 0},
        {1.0, 1},
        {5.5, 5},
        {0x1p63, std::uint64_t{1} << 63},
        {std::nextafter(0x1p64, 0.0), u64_max - 2047},  // largest double below 2^64
        {0x1p64, u64_max},
        {1e300, u64_max},
        {inf, u64_max},
    };
    for (const auto& c : cases) EXPECT_EQ(saturating_floor_to_u64(c.q), c.k) << "q = " << c.q;
}

TEST(LegendreLocation, ExactSubIntervalAndCoordinate)
{
    // Expected bits from an independent double-precision implementation of the
    // locating steps. Right bounds computed as h * (k + 1), or x divided by h,
    // give different last bits for the first four rows.
    const struct {
        double T;
        std::uint64_t n_t;
        double t;
        std::uint64_t k;
        double x;
    } cases[] = {
        {1.0, 7, 0.7450315120316242, 5, -0.5695588315572595},
        {1.0, 7, 0.7951998105635076, 5, 0.13279734788910874},
        {1.0, 10, 0.6, 5, 0.9999999999999989},  // a node that t / h misses by an ulp
        {3.0, 7, 2.9999999999999996, 6, 0.999999999999999},
        {1.0, 2, 0.5, 1, -1.0},  // a node belongs to the sub-interval on its right
        {1.0, 10, 0.30000000000000004, 3, -1.0},
        {0.3, 3, 0.2, 2, -0.9999999999999998},
        {1.0, 3, 1.0, 2, 1.0},
        {1.0, 3, -0.25, 0, -1.0},
        {1.0, 3, -inf, 0, -1.0},
        {1.0, 3, 7.0, 2, 1.0},
        {1.0, 3, inf, 2, 1.0},
        {1.0, 3, not_a_number, 0, not_a_number},
        {0.0, 3, 2.0, 2, 1.0},  // T = 0: h = 0
        {0.0, 3, -2.0, 0, -1.0},
        {0.0, 3, 0.0, 0, not_a_number},
        {-1.0, 2, -0.75, 1, -0.0},  // negative T: 0 / -0.5
        // 2^64 - 1 sub-intervals: t / h saturates and k stops at n_t - 1.
        {0x1p64, u64_max, 0x1p64, u64_max - 1, not_a_number},
        {0x1p64, u64_max, inf, u64_max - 1, 1.0},
        {0x1p64, u64_max, 0x1p63, std::uint64_t{1} << 63, not_a_number},
        {1.0, u64_max, -1.0, 0, -1.0},
    };
    for (const auto& c : cases) {
        const auto at = locate_time(c.T, c.n_t, c.t);
        const std::string what = "T = " + std::to_string(c.T) + ", n_t = " + std::to_string(c.n_t) +
                                 ", t = " + std::to_string(c.t);
        EXPECT_EQ(at.k, c.k) << what;
        expect_same_bits(at.x, c.x, what);
    }
}

TEST(LegendreBasisValues, SmallGridExamples)
{
    const auto p = LegendreBasis{2, 2, 1.0}.evaluate_all_basis_functions(0.25);
    const std::vector<double> want{1.0, 0.0, 0.0, 0.0, -0.5, 0.0};
    ASSERT_EQ(p.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) expect_same_bits(p[i], want[i], "entry " + std::to_string(i));

    const std::vector<double> a{1.0, 2.0, 3.0, 4.0};
    const LegendreBasis linear{1, 2, 1.0};
    EXPECT_EQ(linear.evaluate(0.75, table(a, 2, 2)), 2.0);
    EXPECT_EQ(linear.evaluate_derivative(0.75, table(a, 2, 2)), 16.0);
    EXPECT_EQ(linear.evaluate_all_basis_function_derivatives(0.75), (std::vector<double>{0.0, 0.0, 0.0, 4.0}));
}

TEST(LegendreBasisValues, RecurrenceAndSumsKeepTheirOperandOrder)
{
    // P_2 ... P_4 exactly as the recurrence forms them, and P_2' by the closed
    // formula with its 1e-15 term (|x| is far from 1 here). At x = 0.78,
    // (2j + 1) * (x * P_j), or a multiplication by 1 / (j + 1), changes the last bits.
    const double x = 0.78;
    const double p2 = ((3.0 * x) * x - 1.0 * 1.0) / 2.0;
    const double p3 = ((5.0 * x) * p2 - x * 2.0) / 3.0;
    const double p4 = ((7.0 * x) * p3 - p2 * 3.0) / 4.0;
    const double dp2 = ((x * p2 - x) * 2.0) / ((x * x - 1.0) + 1e-15);
    const double dp4 = ((x * p4 - p3) * 4.0) / ((x * x - 1.0) + 1e-15);
    const LegendreBasis basis{4, 1, 2.0};  // h = 2, so t = 1.78 gives x = 0.78 exactly
    ASSERT_EQ(locate_time(2.0, 1, 1.78).x, x);
    const auto p = basis.evaluate_all_basis_functions(1.78);
    expect_same_bits(p[2], p2, "P_2");
    expect_same_bits(p[3], p3, "P_3");
    expect_same_bits(p[4], p4, "P_4");
    const auto dp = basis.evaluate_all_basis_function_derivatives(1.78);
    expect_same_bits(dp[2], (dp2 + dp2) / 2.0, "P_2' scaled");
    expect_same_bits(dp[4], (dp4 + dp4) / 2.0, "P_4' scaled");

    // The threshold itself: x = 1 - 2^-6 still takes the closed formula, the
    // next x this grid can produce above it the recurrence (P_2' = 3x).
    const LegendreBasis quadratic{2, 1, 1.0};
    const std::vector<double> only_p2{0.0, 0.0, 1.0};
    const double edge = 1.0 - 0x1p-6;
    const double edge_p2 = ((3.0 * edge) * edge - 1.0) / 2.0;
    const double edge_dp2 = ((edge * edge_p2 - edge) * 2.0) / ((edge * edge - 1.0) + 1e-15);
    ASSERT_EQ(locate_time(1.0, 1, 1.0 - 0x1p-7).x, edge);
    expect_same_bits(quadratic.evaluate_derivative(1.0 - 0x1p-7, table(only_p2, 1, 3)), edge_dp2 + edge_dp2,
                     "closed formula at the threshold");
    const double above = edge + 0x1p-52;
    const double t_above = (1.0 - 0x1p-7) + 0x1p-53;
    ASSERT_EQ(locate_time(1.0, 1, t_above).x, above);
    expect_same_bits(quadratic.evaluate_derivative(t_above, table(only_p2, 1, 3)), (3.0 * above) + (3.0 * above),
                     "recurrence above it");

    // The factor 2 / h: derivative sums as (S' + S') / h, basis entries each as
    // (P_i' + P_i') / h; multiplying by 2 / h differs here in the last bit.
    const LegendreBasis tenths{2, 10, 1.0};
    std::vector<double> slope_only(30, 0.0);
    slope_only[0 + 1 * 10] = 4.425;  // a(0, 1)
    expect_same_bits(tenths.evaluate_derivative(0.05, table(slope_only, 10, 3)), (4.425 + 4.425) / 0.1,
                     "(S' + S') / h");
    const double x1 = locate_time(1.0, 10, 0.149).x;
    const double p2_1 = ((3.0 * x1) * x1 - 1.0) / 2.0;
    const double dp2_1 = ((x1 * p2_1 - x1) * 2.0) / ((x1 * x1 - 1.0) + 1e-15);
    expect_same_bits(tenths.evaluate_all_basis_function_derivatives(0.149)[1 + 2 * 10], (dp2_1 + dp2_1) / 0.1,
                     "(P_2' + P_2') / h");

    // Sums start at -0.0: all-(-0.0) coefficients at x = 1 (every P_i = 1 > 0) stay -0.0.
    const std::vector<double> negative_zeros(5, -0.0);
    expect_same_bits(basis.evaluate(5.0, table(negative_zeros, 1, 5)), -0.0, "value");
    expect_same_bits(basis.evaluate_derivative(5.0, table(negative_zeros, 1, 5)), -0.0, "derivative");
}

TEST(LegendreBasisValues, DegreeZeroIsPiecewiseConstant)
{
    const LegendreBasis basis{0, 3, 3.0};
    const std::vector<double> a{5.0, -6.0, 7.0};
    for (const double t : {-1.0, 0.5, 1.0, 2.5, 3.0, 9.0}) {
        const std::uint64_t k = t < 1.0 ? 0 : t < 2.0 ? 1 : 2;
        EXPECT_EQ(basis.evaluate(t, table(a, 3, 1)), a[k]) << t;
        EXPECT_EQ(basis.evaluate_derivative(t, table(a, 3, 1)), 0.0) << t;
        std::vector<double> unit(3, 0.0);
        unit[k] = 1.0;
        EXPECT_EQ(basis.evaluate_all_basis_functions(t), unit) << t;
        EXPECT_EQ(basis.evaluate_all_basis_function_derivatives(t), std::vector<double>(3, 0.0)) << t;
    }
}

TEST(LegendreBasisValues, TimesOutsideTheIntervalTakeTheEndValues)
{
    // a(k, i) = 1 + k + 3i; P_i(+-1) = (+-1)^i, P_i'(1) = i(i+1)/2, P_i'(-1) = (-1)^(i+1) i(i+1)/2.
    const LegendreBasis basis{3, 3, 1.0};
    const auto a = counting(3, 3);
    const double h = 1.0 / 3.0;
    const double left_value = 1.0 - 4.0 + 7.0 - 10.0;
    const double left_slope = 4.0 * 1.0 - 7.0 * 3.0 + 10.0 * 6.0;
    const double right_value = 3.0 + 6.0 + 9.0 + 12.0;
    const double right_slope = 6.0 * 1.0 + 9.0 * 3.0 + 12.0 * 6.0;
    for (const double t : {-0.0, -0.25, -1e300, -inf}) {
        EXPECT_EQ(basis.evaluate(t, table(a, 3, 4)), left_value) << t;
        EXPECT_EQ(basis.evaluate_derivative(t, table(a, 3, 4)), (left_slope + left_slope) / h) << t;
    }
    for (const double t : {1.0, 1.5, 1e300, inf}) {
        EXPECT_EQ(basis.evaluate(t, table(a, 3, 4)), right_value) << t;
        EXPECT_EQ(basis.evaluate_derivative(t, table(a, 3, 4)), (right_slope + right_slope) / h) << t;
    }
}

TEST(LegendreBasisValues, EndDerivativesAreTrueValues)
{
    // The (2, 1, 1.0) expansion 1 * P_2: d/dt P_2(2t - 1) = 6 at t = 1, -6 at t = 0.
    const LegendreBasis basis{2, 1, 1.0};
    const std::vector<double> a{0.0, 0.0, 1.0};
    const struct {
        double t;
        double want;
        double tolerance;
    } cases[] = {
        {1.0, 6.0, 0.0},
        {7.0, 6.0, 0.0},
        {0.0, -6.0, 0.0},
        {-3.0, -6.0, 0.0},
        {std::nextafter(1.0, 0.0), 6.0, 1e-9},  // x = 1 - 2^-52, where the closed formula breaks down
        {0x1p-40, -6.0, 1e-9},
        {1.0 - 0x1p-28, 6.0 - 12.0 * 0x1p-28, 1e-14},  // beyond 1 - 2^-6: the recurrence
        {1.0 - 0x1p-20, 6.0 - 12.0 * 0x1p-20, 1e-14},
        {1.0 - 0x1p-8, 6.0 - 12.0 * 0x1p-8, 1e-13},  // before it: the closed formula, 1e-15 / 2^-6 off
    };
    for (const auto& c : cases) {
        const double got = basis.evaluate_derivative(c.t, table(a, 1, 3));
        EXPECT_NEAR(got, c.want, c.tolerance) << "t = " << c.t;
        EXPECT_EQ(basis.evaluate_all_basis_function_derivatives(c.t)[2], got) << "t = " << c.t;
    }
    // A node that t / h misses by an ulp (x = 1 - 1.1e-15): P_3'(x) is close to 6.
    const auto dp = LegendreBasis{3, 10, 1.0}.evaluate_all_basis_function_derivatives(0.6);
    EXPECT_NEAR(dp[5 + 3 * 10] / 20.0, 6.0, 1e-12);
}

TEST(LegendreBasisValues, NanAndZeroLengthInterval)
{
    const LegendreBasis nan_t{2, 2, 1.0};
    const std::vector<double> a{1.0, 2.0, 3.0, 4.0, 5.0, 6.0};
    EXPECT_TRUE(std::isnan(nan_t.evaluate(not_a_number, table(a, 2, 3))));
    EXPECT_TRUE(std::isnan(nan_t.evaluate_derivative(not_a_number, table(a, 2, 3))));
    const auto p = nan_t.evaluate_all_basis_functions(not_a_number);
    EXPECT_EQ(p[0], 1.0);
    EXPECT_TRUE(std::isnan(p[2]) && std::isnan(p[4]));
    EXPECT_EQ(p[1] + p[3] + p[5], 0.0);
    const auto dp = nan_t.evaluate_all_basis_function_derivatives(not_a_number);
    EXPECT_EQ(dp[0], 0.0);
    EXPECT_EQ(dp[2], 4.0);  // P_1' = 1 does not depend on x
    EXPECT_TRUE(std::isnan(dp[4]));
    EXPECT_EQ(LegendreBasis(0, 2, 1.0).evaluate(not_a_number, table(a, 2, 1)), 1.0);

    // T = 0: h = 0, so values follow the clamped ends and derivatives divide by 0.
    const LegendreBasis flat{2, 2, 0.0};
    EXPECT_EQ(flat.evaluate(2.0, table(a, 2, 3)), 2.0 + 4.0 + 6.0);
    EXPECT_EQ(flat.evaluate(-2.0, table(a, 2, 3)), 1.0 - 3.0 + 5.0);
    EXPECT_TRUE(std::isnan(flat.evaluate(0.0, table(a, 2, 3))));
    EXPECT_EQ(flat.evaluate_derivative(2.0, table(a, 2, 3)), inf);
    EXPECT_TRUE(std::isnan(flat.evaluate_all_basis_function_derivatives(2.0)[1]));  // 0 / 0 for P_0
}

TEST(LegendreBasisValues, AllBasisFunctionsShareTheTableLayout)
{
    // The value is the dot product of the basis vector with the coefficients,
    // and each derivative entry is what evaluate_derivative gives for that unit
    // coefficient; near an end too.
    const LegendreBasis basis{4, 3, 1.5};
    std::vector<double> a;
    for (int i = 0; i < 15; ++i) a.push_back(0.37 * i - 2.0);
    for (const double t : {0.1, 0.6, 0.75, 1.3, std::nextafter(1.0, 0.0), 1.5, 4.0}) {
        const auto p = basis.evaluate_all_basis_functions(t);
        const auto dp = basis.evaluate_all_basis_function_derivatives(t);
        ASSERT_EQ(p.size(), 15u);
        const std::uint64_t k = t < 0.5 ? 0 : t < 1.0 ? 1 : 2;
        double dot = -0.0;
        for (std::uint64_t i = 0; i <= 4; ++i) dot = dot + p[k + 3 * i] * a[k + 3 * i];
        EXPECT_EQ(basis.evaluate(t, table(a, 3, 5)), dot) << t;
        for (std::uint64_t i = 1; i <= 4; ++i) {
            std::vector<double> unit(15, 0.0);
            unit[k + 3 * i] = 1.0;
            const double d = basis.evaluate_derivative(t, table(unit, 3, 5));
            EXPECT_DOUBLE_EQ(dp[k + 3 * i], d) << "t = " << t << ", i = " << i;
        }
        for (std::uint64_t j = 0; j < 15; ++j) {
            if (j % 3 != k) {
                EXPECT_EQ(p[j] + dp[j], 0.0) << "t = " << t << ", entry " << j;
            }
        }
    }
}

TEST(LegendreBasisTable, BoundChecksAndTheirPrecedence)
{
    const LegendreBasis basis{2, 3, 3.0};  // t = 2.5 lies in sub-interval 2
    const std::vector<double> big(60, 1.0);
    const struct {
        std::uint64_t nrows, ncols;
        const char* message;
    } cases[] = {
        {2, 3, "Matrix slicing out of bounds."}, {2, 1, "Matrix slicing out of bounds."},  // rows are checked first
        {3, 2, "Matrix index out of bounds."},   {3, 0, "Matrix index out of bounds."},   {3, 3, "<no fault>"},
    };
    for (const auto& c : cases) {
        const auto view = table(big, c.nrows, c.ncols);
        EXPECT_EQ(fault_message([&] { basis.evaluate(2.5, view); }), c.message) << c.nrows << "x" << c.ncols;
        EXPECT_EQ(fault_message([&] { basis.evaluate_derivative(2.5, view); }), c.message) << c.nrows << "x" << c.ncols;
    }
    // Only row k is needed: one row serves sub-interval 0 however many there are.
    EXPECT_EQ(LegendreBasis(2, u64_max, 1.0).evaluate(-1.0, table({1.0, 2.0, 4.0}, 1, 3)), 3.0);
    EXPECT_EQ(fault_message([&] { LegendreBasis(2, u64_max, 1.0).evaluate(2.0, table(big, 20, 3)); }),
              "Matrix slicing out of bounds.");
    EXPECT_EQ(fault_message([&] { LegendreBasis(u64_max, 1, 1.0).evaluate(0.5, table(big, 1, 60)); }),
              "Matrix index out of bounds.");
}

TEST(LegendreBasisTable, SurplusRowsAndColumnsAreIgnored)
{
    const LegendreBasis basis{2, 2, 1.0};
    const auto exact = counting(2, 2);
    // The same coefficients inside a 4 x 5 table, surrounded by NaN.
    std::vector<double> padded(20, not_a_number);
    for (std::uint64_t k = 0; k < 2; ++k) {
        for (std::uint64_t i = 0; i < 3; ++i) padded[k + 4 * i] = exact[k + 2 * i];
    }
    for (const double t : {0.2, 0.7, 1.0}) {
        EXPECT_EQ(basis.evaluate(t, table(padded, 4, 5)), basis.evaluate(t, table(exact, 2, 3))) << t;
        EXPECT_EQ(basis.evaluate_derivative(t, table(padded, 4, 5)), basis.evaluate_derivative(t, table(exact, 2, 3)))
            << t;
    }
}

TEST(LegendreBasisSizes, NoTimeIntervalIsAFaultFirst)
{
    const std::string message = "Legendre evaluation requires at least one time interval";
    const std::vector<double> none;
    for (const std::uint64_t degree : {std::uint64_t{0}, std::uint64_t{3}, u64_max}) {
        const LegendreBasis basis{degree, 0, 1.0};
        EXPECT_EQ(basis.coefficient_count(), 0u);
        EXPECT_EQ(fault_message([&] { basis.evaluate(0.5, table(none, 0, 0)); }), message);
        EXPECT_EQ(fault_message([&] { basis.evaluate_derivative(0.5, table(none, 0, 0)); }), message);
        EXPECT_EQ(fault_message([&] { basis.evaluate_all_basis_functions(0.5); }), message);
        EXPECT_EQ(fault_message([&] { basis.evaluate_all_basis_function_derivatives(0.5); }), message);
    }
}

TEST(LegendreBasisSizes, CapacityOverflowAndAllocationFailure)
{
    EXPECT_EQ(LegendreBasis(2, 5, 1.0).coefficient_count(), 15u);
    EXPECT_EQ(LegendreBasis(0, (std::uint64_t{1} << 60) - 1, 1.0).coefficient_count(), (std::uint64_t{1} << 60) - 1);
    const struct {
        std::uint64_t degree, n_t;
    } too_big[] = {
        {1, std::uint64_t{1} << 63},  // the final + n_t overflows
        {u64_max, 2},                 // the product overflows
        {0, std::uint64_t{1} << 60},  // 64 bits, but not as doubles in the address space
    };
    for (const auto& c : too_big) {
        const LegendreBasis basis{c.degree, c.n_t, 1.0};
        EXPECT_EQ(fault_message([&] { basis.coefficient_count(); }), "capacity overflow") << c.degree;
        EXPECT_EQ(fault_message([&] { basis.evaluate_all_basis_functions(0.5); }), "capacity overflow");
        EXPECT_EQ(fault_message([&] { basis.evaluate_all_basis_function_derivatives(0.5); }), "capacity overflow");
    }
    const LegendreBasis unallocatable{0, std::uint64_t{1} << 56, 1.0};
    EXPECT_THROW(unallocatable.evaluate_all_basis_functions(0.5), std::bad_alloc);
    EXPECT_THROW(unallocatable.evaluate_all_basis_function_derivatives(0.5), std::bad_alloc);
}

namespace {

// Reference in long double by a different road: each P_i expanded in
// monomials, the expansion summed by Horner and differentiated term by term.
struct Reference {
    long double value, slope, value_scale, slope_scale;
};

Reference reference(const std::vector<double>& a, std::uint64_t degree, long double x, long double h)
{
    std::vector<std::vector<long double>> mono{{1.0L}, {0.0L, 1.0L}};
    for (std::uint64_t j = 1; j < degree; ++j) {
        std::vector<long double> next(j + 2, 0.0L);
        for (std::uint64_t m = 0; m <= j; ++m) next[m + 1] += (2.0L * j + 1.0L) * mono[j][m] / (j + 1.0L);
        for (std::uint64_t m = 0; m < j; ++m) next[m] -= j * mono[j - 1][m] / (j + 1.0L);
        mono.push_back(next);
    }
    std::vector<long double> c(degree + 1, 0.0L);
    long double value_scale = 0.0L, slope_scale = 0.0L;
    for (std::uint64_t i = 0; i <= degree; ++i) {
        for (std::uint64_t m = 0; m <= i; ++m) c[m] += a[i] * mono[i][m];
        value_scale += std::fabs(a[i]);
        slope_scale += std::fabs(a[i]) * i * (i + 1.0L);  // |P_i'| <= i(i+1)/2, times 2/h below
    }
    long double value = 0.0L, slope = 0.0L;
    for (std::uint64_t m = degree + 1; m-- > 0;) {
        value = value * x + c[m];
        if (m > 0) slope = slope * x + m * c[m];
    }
    return {value, slope * 2.0L / h, value_scale, slope_scale / h};
}

}  // namespace

TEST(LegendreBasisAccuracy, MatchesALongDoubleReference)
{
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> coefficient(-1.0, 1.0);
    std::uniform_real_distribution<double> length(0.5, 4.0);
    std::uniform_real_distribution<double> interior(-0.9, 0.9);
    std::uniform_real_distribution<double> end_gap(1e-12, 1e-9);
    for (int trial = 0; trial < 3000; ++trial) {
        const std::uint64_t degree = trial % 9;
        const std::uint64_t n_t = 1 + trial % 5;
        const std::uint64_t k = rng() % n_t;
        const LegendreBasis basis{degree, n_t, length(rng)};
        std::vector<double> a(n_t * (degree + 1));
        for (double& v : a) v = coefficient(rng);

        // u in (-1, 1) is the intended local coordinate; t is rounded from it.
        double u;
        switch (trial % 3) {
            case 0: u = interior(rng); break;
            case 1: u = 1.0 - end_gap(rng); break;
            default: u = -1.0 + end_gap(rng); break;
        }
        const long double h = static_cast<long double>(basis.T) / n_t;
        const double t = static_cast<double>(h * (k + (u + 1.0L) / 2.0L));
        const long double x = 2.0L * (t - h * k) / h - 1.0L;  // t's own coordinate

        std::vector<double> row(degree + 1);
        for (std::uint64_t i = 0; i <= degree; ++i) row[i] = a[k + i * n_t];
        const Reference want = reference(row, degree, x, h);
        const auto view = table(a, n_t, degree + 1);
        const std::string what = "degree " + std::to_string(degree) + ", x = " + std::to_string(static_cast<double>(x));
        EXPECT_NEAR(basis.evaluate(t, view), static_cast<double>(want.value),
                    1e-12 * static_cast<double>(want.value_scale))
            << what;
        EXPECT_NEAR(basis.evaluate_derivative(t, view), static_cast<double>(want.slope),
                    1e-12 * static_cast<double>(want.slope_scale))
            << what;
    }
}

TEST(LegendreBasisColumns, EveryColumnKeepsTheOneColumnBits)
{
    // Degree 40 with 3 columns: a block of 2048 / 41 = 49 times, so 60 times span two blocks.
    const LegendreBasis basis{40, 3, 1.3};
    const std::uint64_t m = 3 * 41;
    constexpr std::uint64_t columns = 3;
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<double> rows(m * columns);
    for (double& a : rows) a = uniform(rng);
    std::vector<double> times{-1.0, 0.0, 1.3, 5.0, not_a_number};
    while (times.size() < 60) times.push_back(uniform(rng) + 0.65);
    for (const bool derivative : {false, true}) {
        std::vector<double> out(times.size() * columns);
        basis.evaluate_columns(times, rows, columns, derivative, out);
        for (std::uint64_t c = 0; c < columns; ++c) {
            std::vector<double> column(m);
            for (std::uint64_t i = 0; i < m; ++i) column[i] = rows[i * columns + c];
            for (std::size_t r = 0; r < times.size(); ++r) {
                const double want = derivative ? basis.evaluate_derivative(times[r], table(column, 3, 41))
                                               : basis.evaluate(times[r], table(column, 3, 41));
                expect_same_bits(out[r * columns + c], want, "column " + std::to_string(c));
            }
        }
    }
    std::vector<double> short_out(times.size() * columns - 1);
    const std::string fault = fault_message([&] { basis.evaluate_columns(times, rows, columns, false, short_out); });
    EXPECT_NE(fault.find("evaluation output and times differ in length"), std::string::npos) << fault;
}
