// Collocation matrices, and quadrature, mass rows and interval-major rows on grids: exact small cases and the faults.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fault_message.hpp"
#include "time_operators/collocation.hpp"
#include "time_operators/general_operator_rows.hpp"
#include "time_operators/grid_mass_rows.hpp"
#include "time_operators/grid_quadrature.hpp"
#include "time_operators/interval_major_rows.hpp"

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
    EXPECT_EQ(fault_message([&] {
        fill_grid_quadrature(reference_rule(QuadratureRule::gauss, 1), one, times, weights);
    }),
              "a grid needs at least two points");
}

TEST(GridMassRows, SharedNodesAddBothStepsRoundedOnce)
{
    const std::vector<double> points{0.0, 0.5, 2.0};
    const LocalBasis linear{BasisKind::lagrange, 1};
    const TimeOperatorShape shape = grid_mass_shape(linear, linear, points, 0, 2);
    std::vector<std::int32_t> offsets(shape.nrows + 1), columns(shape.max_nnz);
    std::vector<double> values(shape.max_nnz);
    const std::uint64_t nnz = fill_grid_mass_rows<std::int32_t>(shape, points, {}, {offsets, columns, values});
    EXPECT_EQ(nnz, 7u);
    EXPECT_EQ(offsets, (std::vector<std::int32_t>{0, 2, 5, 7}));
    EXPECT_EQ(values, (std::vector<double>{1.0 / 6.0, 1.0 / 12.0, 1.0 / 12.0, 2.0 / 3.0, 0.25, 0.25, 0.5}));
    const std::vector<double> one{1.0};
    EXPECT_EQ(fault_message([&] { grid_mass_shape(linear, linear, one, 0, 0); }), "a grid needs at least two points");
}

TEST(IntervalMajorRows, RowsAndColumnsRunSubIntervalBySubInterval)
{
    // dG(1) jump on two sub-intervals: polynomial-major rows P_0, P_0, P_1, P_1 become k = 0: P_0, P_1; k = 1: ...
    const LocalBasis linear{BasisKind::legendre, 1};
    const TimeOperatorShape shape = time_operator_shape(TimeOperator::jump, linear, linear, 2, 1.0, 0, 2);
    std::vector<std::int32_t> offsets(shape.nrows + 1), columns(shape.max_nnz);
    std::vector<double> values(shape.max_nnz);
    const std::uint64_t nnz =
        fill_interval_major_rows<std::int32_t>(shape, {}, {true, true}, {offsets, columns, values});
    EXPECT_EQ(nnz, 12u);
    EXPECT_EQ(offsets, (std::vector<std::int32_t>{0, 2, 4, 8, 12}));
    EXPECT_EQ(columns, (std::vector<std::int32_t>{0, 1, 0, 1, 0, 1, 2, 3, 0, 1, 2, 3}));
    // v(t_k+) (u(t_k+) - u(t_k-)) with P_0 = 1, P_1(-1) = -1, P_1(1) = 1.
    EXPECT_EQ(values, (std::vector<double>{1, -1, -1, 1, -1, -1, 1, -1, 1, 1, -1, 1}));
    const LocalBasis nodal{BasisKind::lagrange, 1};
    const TimeOperatorShape mixed = time_operator_shape(TimeOperator::mass, nodal, linear, 2, 1.0, 0, 2);
    EXPECT_EQ(fault_message([&] {
        fill_interval_major_rows<std::int32_t>(mixed, {}, {true, false}, {offsets, columns, values});
    }),
              "only a Legendre time space has an interval-major layout");
}

TEST(GeneralRows, ContinuityNeedsBothEndsAndDiscontinuousNodesNumberByInterval)
{
    const SpaceBasis radau{BasisKind::lagrange, 1, family_nodes(3, 2), false, false};  // radau-right: -1/3, 1
    const GeneralShape shape = general_shape(TimeOperator::jump, radau, radau, 2, 0, 2);
    EXPECT_EQ(shape.nrows, 4u);
    const std::vector<double> points{0.0, 1.0, 2.0};
    std::vector<std::int32_t> offsets(shape.nrows + 1), columns(shape.max_nnz);
    std::vector<double> values(shape.max_nnz);
    const std::uint64_t nnz = fill_general_rows<std::int32_t>(shape, radau, radau, points, {offsets, columns, values});
    // l_0(-1) = 3/2, l_1(-1) = -1/2, l_b(1) = 0, 1: row (k, a) holds l_a(-1) (l_b(-1) on k - l_b(1) on k - 1).
    EXPECT_EQ(nnz, 10u);
    columns.resize(nnz);
    values.resize(nnz);
    EXPECT_EQ(offsets, (std::vector<std::int32_t>{0, 2, 4, 7, 10}));
    EXPECT_EQ(columns, (std::vector<std::int32_t>{0, 1, 0, 1, 1, 2, 3, 1, 2, 3}));
    EXPECT_EQ(values, (std::vector<double>{2.25, -0.75, -0.75, 0.25, -1.5, 2.25, -0.75, 0.5, -0.75, 0.25}));
    const SpaceBasis open{BasisKind::lagrange, 1, family_nodes(1, 2), true, false};  // gauss cannot be continuous
    EXPECT_EQ(fault_message([&] { general_shape(TimeOperator::mass, open, open, 2, 0, 2); }),
              "continuous Lagrange spaces need both ends among their nodes");
}
