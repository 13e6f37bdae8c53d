// Blocks of Lagrange bases on rule nodes: below the degree the Gauss sums keep, they round to the sums' bits.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <tuple>
#include <vector>

#include "time_operators/general_operator_rows.hpp"
#include "time_operators/reference_integrals.hpp"
#include "time_operators/rule_node_blocks.hpp"

using namespace zelk::time_operators;

namespace {

SpaceBasis space(bool lagrange, std::uint64_t degree, std::uint64_t family)
{
    if (!lagrange) return {BasisKind::legendre, degree, {}, false, true};
    return {BasisKind::lagrange, degree, family_nodes(family, degree + 1), false, false};
}

// The one-interval matrix of points {0, 2} (step 2), dense, as fill_general_rows writes it.
std::vector<double> general_matrix(TimeOperator op, const SpaceBasis& trial, const SpaceBasis& test)
{
    const GeneralShape shape = general_shape(op, trial, test, 1, 0, 1);
    const std::vector<double> points{0.0, 2.0};
    std::vector<std::int64_t> offsets(shape.nrows + 1), columns(shape.max_nnz);
    std::vector<double> values(shape.max_nnz);
    fill_general_rows<std::int64_t>(shape, trial, test, points, {offsets, columns, values});
    std::vector<double> dense(shape.nrows * shape.ncols, 0.0);
    for (std::uint64_t r = 0; r < shape.nrows; ++r) {
        for (auto e = offsets[r]; e < offsets[r + 1]; ++e) dense[r * shape.ncols + columns[e]] = values[e];
    }
    return dense;
}

}  // namespace

// family (1 Gauss ... 4 Lobatto), pairing (0 both Lagrange, 1 Lagrange trial, 2 Lagrange test), operator, degree.
// Odd degrees: no Gauss node at 0, where the sums leave the derivative's exact 0 at rounding size.
class RuleBlocks : public testing::TestWithParam<std::tuple<std::uint64_t, int, int, std::uint64_t>> {};

TEST_P(RuleBlocks, RoundToTheBitsOfTheGaussSums)
{
    const auto [family, pairing, op_code, d] = GetParam();
    ASSERT_LT(d + 3, rule_structure_degree);  // fill_general_rows takes the Gauss sums
    const auto op = static_cast<TimeOperator>(op_code);
    // A Legendre side of another degree, so that the sums' rule is not the Lagrange nodes' own.
    const SpaceBasis trial = space(pairing != 2, pairing == 2 ? d + 3 : d, family);
    const SpaceBasis test = space(pairing != 1, pairing == 1 ? d + 3 : d, family);
    const std::optional<RuleBasis> trial_rule = rule_basis(trial);
    const std::optional<RuleBasis> test_rule = rule_basis(test);
    ASSERT_EQ(trial_rule.has_value(), trial.kind == BasisKind::lagrange);
    ASSERT_EQ(test_rule.has_value(), test.kind == BasisKind::lagrange);
    const std::uint64_t na = test.degree + 1;
    const std::uint64_t nb = trial.degree + 1;
    std::vector<double> expected(na * nb, 0.0);
    if (op == TimeOperator::jump) {
        // One interval: v_a(-1) u_b(-1); Legendre end values (-1)^i.
        const auto left = [](const std::optional<RuleBasis>& r, std::uint64_t i) {
            return r ? r->left[i] : DoubleDouble(i % 2 == 0 ? 1.0 : -1.0);
        };
        for (std::uint64_t a = 0; a < na; ++a) {
            for (std::uint64_t b = 0; b < nb; ++b)
                expected[a * nb + b] = (left(test_rule, a) * left(trial_rule, b)).to_double();
        }
    } else {
        std::vector<DoubleDouble> value(na * nb), magnitude(na * nb);
        ASSERT_TRUE(rule_block(op == TimeOperator::derivative, trial, trial_rule ? &*trial_rule : nullptr, test,
                               test_rule ? &*test_rule : nullptr, value, magnitude));
        const double h = op == TimeOperator::mass ? 2.0 : 1.0;  // exact scaling
        for (std::uint64_t e = 0; e < na * nb; ++e) expected[e] = rounded_integral(value[e], magnitude[e]) * h;
    }
    const std::vector<double> got = general_matrix(op, trial, test);
    std::uint64_t nonzero = 0;
    for (std::uint64_t e = 0; e < na * nb; ++e) {
        EXPECT_EQ(got[e], expected[e]) << "entry " << e / nb << ", " << e % nb;
        nonzero += got[e] != 0.0;
    }
    EXPECT_GT(nonzero, 0u);
}

INSTANTIATE_TEST_SUITE_P(FamiliesPairingsOperators, RuleBlocks,
                         testing::Combine(testing::Values<std::uint64_t>(1, 2, 3, 4), testing::Values(0, 1, 2),
                                          testing::Values(0, 1, 2), testing::Values<std::uint64_t>(9, 31)));
