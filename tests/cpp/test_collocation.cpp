// Collocation matrices and quadrature on a grid of points: exact small cases and the length faults.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fault_message.hpp"
#include "time_operators/collocation.hpp"
#include "time_operators/grid_quadrature.hpp"

using namespace zelk::time_operators;

TEST(Collocation, TwoPointRadauIsRoundedOnceAndStartsFromZero)
{
    std::vector<double> nodes(2), weights(2), q(4), s(4);
    fill_collocation(reference_rule(QuadratureRule::radau_right, 2), nodes, weights, q, s);
    EXPECT_EQ(nodes, (std::vector<double>{1.0 / 3.0, 1.0}));
    EXPECT_EQ(weights, (std::vector<double>{0.75, 0.25}));
    EXPECT_EQ(q, (std::vector<double>{5.0 / 12.0, -1.0 / 12.0, 0.75, 0.25}));
    EXPECT_EQ(s, (std::vector<double>{5.0 / 12.0, -1.0 / 12.0, 1.0 / 3.0, 1.0 / 3.0}));

    // A node at 0: Q's first row is an exact zero.
    std::vector<double> n3(3), w3(3), q3(9), s3(9);
    fill_collocation(reference_rule(QuadratureRule::lobatto, 3), n3, w3, q3, s3);
    EXPECT_EQ(q3, (std::vector<double>{0.0, 0.0, 0.0, 5.0 / 24.0, 1.0 / 3.0, -1.0 / 24.0, 1.0 / 6.0, 2.0 / 3.0,
                                       1.0 / 6.0}));
    const std::string wrong =
        fault_message([&] { fill_collocation(reference_rule(QuadratureRule::gauss, 2), n3, w3, q3, s3); });
    EXPECT_NE(wrong.find("collocation nodes have the wrong length"), std::string::npos);
}

TEST(GridQuadrature, StepsAreExactAndShortGridsFault)
{
    const std::vector<double> points{-1.0, 0.5, 0.625};
    std::vector<double> times(4), weights(4);
    fill_grid_quadrature(reference_rule(QuadratureRule::lobatto, 2), points, times, weights);
    EXPECT_EQ(times, (std::vector<double>{-1.0, 0.5, 0.5, 0.625}));
    EXPECT_EQ(weights, (std::vector<double>{0.75, 0.75, 0.0625, 0.0625}));
    const std::vector<double> one{0.0};
    EXPECT_EQ(fault_message([&] { fill_grid_quadrature(reference_rule(QuadratureRule::gauss, 1), one, times, weights); }),
              "a grid needs at least two points");
}
