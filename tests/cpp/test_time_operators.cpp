// Time operators' core: double-double steps, correctly rounded rules and integrals, rows and their faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "fault/fault.hpp"
#include "fault_message.hpp"
#include "time_operators/double_double.hpp"
#include "time_operators/interval_blocks.hpp"
#include "time_operators/legendre_transfer.hpp"
#include "time_operators/quadrature_rules.hpp"
#include "time_operators/reference_bases.hpp"
#include "time_operators/reference_integrals.hpp"
#include "time_operators/split_product.hpp"
#include "time_operators/time_operator_rows.hpp"

using namespace zelk::time_operators;

TEST(DoubleDouble, CountsAreExactAndQuotientsCarryTheLowPart)
{
    const std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
    const DoubleDouble n = DoubleDouble::from_u64(top);
    // 2^64 - 1 needs both parts: hi rounds up to 2^64, lo is -1.
    EXPECT_EQ(n.hi, 0x1p64);
    EXPECT_EQ(n.lo, -1.0);
    const DoubleDouble third = DoubleDouble(1.0) / DoubleDouble(3.0);
    const DoubleDouble residual = third * DoubleDouble(3.0) - DoubleDouble(1.0);
    EXPECT_LT(std::fabs(residual.hi), 0x1p-100);
}

// The split product must give, bit for bit, what one correctly rounded fused
// multiply-add gives: over every exponent, where the split would overflow,
// where the error or the product underflows, and at the ends of the range.
TEST(DoubleDouble, ProductErrorIsTheFusedOne)
{
    // The oracle is the C library's fma, which some libraries (mingw-w64's) do not round correctly: the
    // operands are volatile so that the compiler cannot fold the probe with its own exact arithmetic.
    volatile double near_one = 0x1.fffffffffffffp-1;
    volatile double square = 0x1.ffffffffffffep-1;
    if (std::fma(near_one, near_one, -square) != 0x1p-106) {
        GTEST_SKIP() << "this C library's fma is not correctly rounded, so it cannot check the split product";
    }
    const auto same = [](double x, double y) {
        return (std::isnan(x) && std::isnan(y)) || std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
    };
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> edges = {0.0,
                                 1.0,
                                 3.0,
                                 0x1.fffffffffffffp-1,
                                 0x1.0000000000001p0,
                                 1.0 / 3.0,
                                 0x1p-480,
                                 0x1.0000000000001p-480,
                                 0x1p480,
                                 0x1.fffffffffffffp480,
                                 0x1p995,
                                 0x1p996,
                                 0x1.fffffffffffffp996,
                                 0x1p997,
                                 std::numeric_limits<double>::max(),
                                 std::numeric_limits<double>::min(),
                                 0x1.fffffffffffffp-1022,
                                 0x1p-1074,
                                 0x1.8p-1073,
                                 0x1p-969,
                                 0x1p-971,
                                 0x1p-537,
                                 0x1.fffffffffffffp-538,
                                 inf,
                                 std::numeric_limits<double>::quiet_NaN()};
    const std::size_t signed_edges = edges.size();
    for (std::size_t i = 0; i < signed_edges; ++i) {
        edges.push_back(-edges[i]);
    }
    std::vector<std::pair<double, double>> pairs;
    for (double a : edges) {
        for (double b : edges) {
            pairs.emplace_back(a, b);
        }
    }
    std::mt19937_64 bits(20261207);
    std::uniform_int_distribution<int> exponent(-1100, 1050);
    std::uniform_real_distribution<double> mantissa(1.0, 2.0);
    for (int i = 0; i < 400000; ++i) {
        // Any finite bit pattern, and factors whose exponents sum near the ends of the range.
        const double a = std::bit_cast<double>(bits() & 0x7fefffffffffffffULL);
        const double b = std::bit_cast<double>(bits() | (i % 2 == 0 ? 0x8000000000000000ULL : 0));
        pairs.emplace_back(a, std::isfinite(b) ? b : 1.5);
        const int e = exponent(bits);
        pairs.emplace_back(std::ldexp(mantissa(bits), e), -std::ldexp(mantissa(bits), (i % 3 == 0 ? -1074 : 1023) - e));
    }
    int mismatches = 0;
    for (const auto& [a, b] : pairs) {
        const DoubleDouble p = dd_detail::two_product(a, b);
        const double hi = a * b;
        if (!same(p.hi, hi) || !same(p.lo, std::fma(a, b, -hi))) {
            if (++mismatches <= 5) {
                ADD_FAILURE() << std::hexfloat << a << " * " << b << ": " << p.hi << " + " << p.lo << ", fused "
                              << std::fma(a, b, -hi);
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(ReferenceRules, NodesAndWeightsAreCorrectlyRounded)
{
    const ReferenceRule gauss = reference_rule(QuadratureRule::gauss, 2);
    // -1/sqrt(3) to the nearest double (1.0 / std::sqrt(3.0) is one ulp further out).
    EXPECT_EQ(gauss.nodes[0].to_double(), -0.5773502691896257);
    EXPECT_EQ(gauss.weights[1].to_double(), 1.0);
    const ReferenceRule radau = reference_rule(QuadratureRule::radau_right, 2);
    EXPECT_EQ(radau.nodes[0].to_double(), -1.0 / 3.0);
    EXPECT_EQ(radau.nodes[1].to_double(), 1.0);
    EXPECT_EQ(radau.weights[0].to_double(), 1.5);
    EXPECT_EQ(fault_message([] { reference_rule(QuadratureRule::lobatto, 1); }),
              "Lobatto quadrature needs at least two points");
}

// The integrals rounded once, as the fill settles them.
std::vector<double> rounded(const std::vector<Integral>& block)
{
    std::vector<double> out;
    for (const Integral& integral : block) out.push_back(settled(integral).to_double());
    return out;
}

TEST(ReferenceIntegrals, RoundedOnceAndExactZerosAreZero)
{
    const LocalBasis linear{BasisKind::lagrange, 1};
    EXPECT_EQ(rounded(reference_mass(linear, linear)),
              (std::vector<double>{1.0 / 3.0, 1.0 / 6.0, 1.0 / 6.0, 1.0 / 3.0}));
    // P_1 is orthogonal to constants; its derivative against P_0 and P_2 is 2 and 0.
    const LocalBasis quadratic{BasisKind::legendre, 2};
    const std::vector<Integral> d = reference_derivative(quadratic, quadratic);
    EXPECT_EQ(rounded(d), (std::vector<double>{0.0, 2.0, 0.0, 0.0, 0.0, 2.0, 0.0, 0.0, 0.0}));
    // Exact doubles settle with no low part, so that a later rounding sees the tie.
    EXPECT_EQ(settled(d[1]).lo, 0.0);
}

// Past degree 170 the factorials of the equidistant basis leave the double
// range; the values stay a partition of unity, and a basis too large for
// doubles is an overflow fault, not infinities or NaNs.
TEST(ReferenceBases, EquidistantLagrangePastTheFactorialRange)
{
    for (const std::uint64_t degree : {171u, 400u}) {
        const LocalBasis basis{BasisKind::lagrange, degree};
        std::vector<DoubleDouble> values(basis.size()), slopes(basis.size());
        local_basis_values(basis, DoubleDouble(0.3), values, slopes);
        DoubleDouble sum = 0.0;
        DoubleDouble slope_sum = 0.0;
        DoubleDouble largest = 0.0;
        for (std::uint64_t j = 0; j <= degree; ++j) {
            ASSERT_TRUE(std::isfinite(values[j].hi) && std::isfinite(slopes[j].hi)) << j;
            sum += values[j];
            slope_sum += slopes[j];
            largest = std::max(largest.hi, std::fabs(slopes[j].hi));
        }
        EXPECT_LE(std::fabs((sum - DoubleDouble(1.0)).hi), 0x1p-80 * largest.hi) << degree;
        EXPECT_LE(std::fabs(slope_sum.hi), 0x1p-80 * largest.hi) << degree;
    }
    const LocalBasis huge{BasisKind::lagrange, 1500};
    std::vector<DoubleDouble> values(huge.size()), slopes(huge.size());
    EXPECT_THROW(local_basis_values(huge, DoubleDouble(-0.999), values, slopes), zelk::ValueOverflow);
}

TEST(TimeOperatorRows, ContinuousTrialJumpsOnlyAtTheStart)
{
    const TimeOperatorShape shape =
        time_operator_shape(TimeOperator::jump, {BasisKind::lagrange, 2}, {BasisKind::legendre, 1}, 3, 1.0, 0, 3);
    std::vector<std::int32_t> offsets(shape.nrows + 1), columns(shape.max_nnz);
    std::vector<double> values(shape.max_nnz);
    const std::uint64_t nnz = fill_time_operator_rows<std::int32_t>(shape, {offsets, columns, values});
    // Rows P_0 and P_1 on the first sub-interval: v(0+) u_0(0+) = 1 and -1.
    ASSERT_EQ(nnz, 2u);
    EXPECT_EQ(offsets, (std::vector<std::int32_t>{0, 1, 1, 1, 2, 2, 2}));
    EXPECT_EQ(values[0], 1.0);
    EXPECT_EQ(values[1], -1.0);
}

template <class Index>
struct FilledRows {
    std::vector<Index> offsets;
    std::vector<Index> columns;
    std::vector<double> values;
};

template <class Index>
FilledRows<Index> filled_rows(TimeOperator op, LocalBasis trial, LocalBasis test, std::uint64_t n_t,
                              std::uint64_t k_begin, std::uint64_t k_end)
{
    const TimeOperatorShape shape = time_operator_shape(op, trial, test, n_t, 0.3, k_begin, k_end);
    FilledRows<Index> rows{std::vector<Index>(shape.nrows + 1), std::vector<Index>(shape.max_nnz),
                           std::vector<double>(shape.max_nnz)};
    EXPECT_EQ(fill_time_operator_rows<Index>(shape, {rows.offsets, rows.columns, rows.values}), shape.max_nnz);
    return rows;
}

// Long grids: rows far from the start are written in blocks, whose seams
// must not show, whatever the index type or where a range starts.
TEST(TimeOperatorRows, LongGridsAgreeAcrossIndexTypesAndRanges)
{
    const std::uint64_t n_t = 9001;
    const std::uint64_t split = 4099;
    for (const TimeOperator op : {TimeOperator::mass, TimeOperator::derivative, TimeOperator::jump}) {
        for (const LocalBasis trial : {LocalBasis{BasisKind::legendre, 3}, LocalBasis{BasisKind::lagrange, 2}}) {
            for (const LocalBasis test : {LocalBasis{BasisKind::legendre, 3}, LocalBasis{BasisKind::lagrange, 3}}) {
                const auto narrow = filled_rows<std::int32_t>(op, trial, test, n_t, 0, n_t);
                const auto wide = filled_rows<std::int64_t>(op, trial, test, n_t, 0, n_t);
                EXPECT_TRUE(std::equal(narrow.offsets.begin(), narrow.offsets.end(), wide.offsets.begin(),
                                       wide.offsets.end()));
                EXPECT_TRUE(std::equal(narrow.columns.begin(), narrow.columns.end(), wide.columns.begin(),
                                       wide.columns.end()));
                EXPECT_EQ(narrow.values, wide.values);
                // The rows of two ranges are the whole: grid order for Lagrange
                // rows, each Legendre polynomial's rows in grid order.
                const auto head = filled_rows<std::int32_t>(op, trial, test, n_t, 0, split);
                const auto tail = filled_rows<std::int32_t>(op, trial, test, n_t, split, n_t);
                std::vector<std::int32_t> columns;
                std::vector<double> values;
                std::vector<std::int32_t> offsets{0};
                auto append = [&](const FilledRows<std::int32_t>& part, std::size_t first, std::size_t last) {
                    columns.insert(columns.end(), part.columns.begin() + part.offsets[first],
                                   part.columns.begin() + part.offsets[last]);
                    values.insert(values.end(), part.values.begin() + part.offsets[first],
                                  part.values.begin() + part.offsets[last]);
                    for (std::size_t r = first; r < last; ++r)
                        offsets.push_back(offsets.back() + part.offsets[r + 1] - part.offsets[r]);
                };
                const std::size_t kinds = test.kind == BasisKind::legendre ? test.degree + 1 : 1;
                for (std::size_t i = 0; i < kinds; ++i) {
                    const std::size_t head_rows = (head.offsets.size() - 1) / kinds;
                    const std::size_t tail_rows = (tail.offsets.size() - 1) / kinds;
                    append(head, i * head_rows, (i + 1) * head_rows);
                    append(tail, i * tail_rows, (i + 1) * tail_rows);
                }
                EXPECT_EQ(columns, narrow.columns);
                EXPECT_EQ(values, narrow.values);
                EXPECT_EQ(offsets, narrow.offsets);
            }
        }
    }
}

// Entries of many sub-intervals at once are, bit for bit, the products and
// sums formed one at a time: each kind of entry, both step forms, blocks from
// k = 0 and later ones, steps of every scale from subnormal to 2^900.
TEST(IntervalBlocks, EntriesAreTheProductsAndSumsFormedOneByOne)
{
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> unit(1.0, 2.0);
    std::uniform_int_distribution<int> wide(-1074, 900);
    std::uniform_int_distribution<int> narrow(-8, 8);
    std::vector<double> points;
    for (int i = 0; i < 700; ++i) points.push_back(std::ldexp(unit(rng), (i / 100) % 2 == 0 ? narrow(rng) : wide(rng)));
    std::vector<DoubleDouble> f;
    for (int i = 0; i < 5; ++i) f.push_back(DoubleDouble(unit(rng)) + DoubleDouble(std::ldexp(unit(rng), -60)));
    const auto bits = [](double x) { return std::bit_cast<std::uint64_t>(x); };
    for (const StepSum form : {StepSum::two_sum, StepSum::difference}) {
        IntervalBlocks blocks(form, 3, 4);
        blocks.add(f[0], false, 0);
        blocks.add(f[1], true, -3);
        blocks.add_sum(1, f[2], true, 0.0, false, 1);
        blocks.add_sum(2, f[3], true, f[4], false, 2);
        blocks.add_rounded_pair(f[0], f[1], true, -f[2], f[3], false, 0);
        blocks.prepare();
        const auto step = [&](std::uint64_t k) {
            return form == StepSum::two_sum ? dd_detail::two_sum(points[k + 1], -points[k])
                                            : DoubleDouble(points[k + 1]) - points[k];
        };
        const auto product = [&](const DoubleDouble& factor, std::uint64_t k) {
            return split_product(SplitDoubleDouble(factor), SplitDoubleDouble(step(k)));
        };
        for (const std::uint64_t k0 : {0, 1, 37, 100, 650}) {
            const std::uint64_t n = std::min<std::uint64_t>(blocks.block(), points.size() - 1 - k0);
            bool within = true;
            for (std::uint64_t j = 0; j < n; ++j) {
                const std::uint64_t k = k0 + j;
                const std::uint64_t before = k == 0 ? 0 : k - 1;
                for (const std::uint64_t s : {before, k}) {
                    const double a = std::fabs(step(s).hi);
                    within = within && a >= 0x1p-480 && a <= 0x1p480;
                }
            }
            ASSERT_EQ(blocks.compute(points.data(), k0, n, 0, 5), within) << k0;
            std::vector<std::int32_t> columns(2 * n);
            std::vector<double> values(2 * n);
            blocks.place(k0, n, 2, 4, columns.data(), values.data());
            for (std::uint64_t j = 0; j < n; ++j) {
                const std::uint64_t k = k0 + j;
                const std::uint64_t before = k == 0 ? 0 : k - 1;
                DoubleDouble one = 0.0;
                one += product(f[2], before);
                DoubleDouble two = 0.0;
                two += product(f[3], before);
                two += product(f[4], k);
                EXPECT_EQ(bits(blocks.value(0, j)), bits(product(f[0], k).to_double())) << k;
                EXPECT_EQ(bits(blocks.value(1, j)), bits(product(f[1], before).to_double())) << k;
                EXPECT_EQ(bits(values[2 * j]), bits(one.to_double())) << k;
                EXPECT_EQ(bits(values[2 * j + 1]), bits(two.to_double())) << k;
                EXPECT_EQ(columns[2 * j], static_cast<std::int32_t>(3 * k + 1));
                EXPECT_EQ(columns[2 * j + 1], static_cast<std::int32_t>(3 * k + 2));
                const auto in_range = [](double x) { return std::fabs(x) >= 0x1p-480 && std::fabs(x) <= 0x1p480; };
                if (in_range(step(before).hi) && in_range(step(k).hi)) {
                    DoubleDouble sum = f[0] * step(before);
                    DoubleDouble magnitude = f[1] * step(before);
                    sum += -f[2] * step(k);
                    magnitude += f[3] * step(k);
                    EXPECT_EQ(bits(blocks.value(4, j)), bits(rounded_integral(sum, magnitude))) << k;
                }
            }
        }
    }
}

TEST(TimeOperatorShapes, Faults)
{
    const LocalBasis legendre{BasisKind::legendre, 1};
    EXPECT_EQ(fault_message([&] {
        time_operator_shape(TimeOperator::mass, {BasisKind::lagrange, 0}, legendre, 2, 1.0, 0, 2);
    }),
              "Lagrange time space requires degree at least 1");
    EXPECT_EQ(fault_message([&] { time_operator_shape(TimeOperator::mass, legendre, legendre, 2, 1.0, 1, 3); }),
              "interval range out of bounds");
    EXPECT_EQ(fault_message([&] { time_operator_shape(TimeOperator::mass, legendre, legendre, 2, -1.0, 0, 2); }),
              "time grid requires a positive finite end time");
    // Coprime grids whose common refinement has more than 2^64 parts.
    EXPECT_EQ(fault_message([] { legendre_transfer_shape(false, (1ull << 32) + 1, 1ull << 32, 0, 0, 0); }),
              "capacity overflow");
}
