// Large rules by Taylor steps: they agree with the deflated Newton rules where both exist, and keep their structure.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "fault_message.hpp"
#include "time_operators/quadrature_rules.hpp"
#include "time_operators/stepped_rules.hpp"

using namespace zelk::time_operators;

namespace {

constexpr QuadratureRule all_rules[] = {QuadratureRule::gauss, QuadratureRule::radau_left, QuadratureRule::radau_right,
                                        QuadratureRule::lobatto};

}  // namespace

// Up to 40 points reference_rule takes deflated Newton steps on the
// recurrence, an independent route to the same roots and weights.
TEST(SteppedRules, AgreeWithDeflatedNewtonToDoubleDoubleAccuracy)
{
    for (const QuadratureRule rule : all_rules) {
        for (std::uint64_t n = 3; n <= 40; ++n) {
            const ReferenceRule slow = reference_rule(rule, n);
            const ReferenceRule fast = stepped_rule(rule, n);
            ASSERT_EQ(fast.nodes.size(), n);
            ASSERT_EQ(fast.weights.size(), n);
            for (std::uint64_t i = 0; i < n; ++i) {
                EXPECT_LT(std::fabs((fast.nodes[i] - slow.nodes[i]).hi), 0x1p-96) << int(rule) << " " << n << " " << i;
                EXPECT_LT(std::fabs((fast.weights[i] - slow.weights[i]).hi), 0x1p-80 * slow.weights[i].hi)
                    << int(rule) << " " << n << " " << i;
            }
        }
    }
    EXPECT_EQ(fault_message([] { stepped_rule(QuadratureRule::gauss, 2); }),
              "stepped quadrature rules start at three points");
}

// Beyond 40 points: ascending nodes, the fixed ends, exact symmetry and weights that add to 2.
TEST(SteppedRules, LargeRulesKeepTheirStructure)
{
    for (const QuadratureRule rule : all_rules) {
        for (const std::uint64_t n : {41u, 64u, 999u, 4096u}) {
            const ReferenceRule r = reference_rule(rule, n);
            ASSERT_EQ(r.nodes.size(), n);
            DoubleDouble total = 0.0;
            for (std::uint64_t i = 0; i < n; ++i) {
                total += r.weights[i];
                EXPECT_GT(r.weights[i].hi, 0.0);
                if (i > 0) {
                    EXPECT_LT(r.nodes[i - 1].hi, r.nodes[i].hi);
                }
                if (rule == QuadratureRule::gauss || rule == QuadratureRule::lobatto) {
                    EXPECT_EQ(r.nodes[i].hi, -r.nodes[n - 1 - i].hi);
                    EXPECT_EQ(r.weights[i].hi, r.weights[n - 1 - i].hi);
                }
            }
            EXPECT_LT(std::fabs((total - DoubleDouble(2.0)).hi), 0x1p-70) << int(rule) << " " << n;
            if (rule != QuadratureRule::gauss && rule != QuadratureRule::radau_right) {
                EXPECT_EQ(r.nodes.front().hi, -1.0);
            }
            if (rule == QuadratureRule::radau_right || rule == QuadratureRule::lobatto) {
                EXPECT_EQ(r.nodes.back().hi, 1.0);
            }
        }
    }
}
