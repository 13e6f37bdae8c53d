// Grid-to-grid transfers' core: the faults of the shape, the merge sweep's sizes and the side a shared point takes.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "fault_message.hpp"
#include "time_operators/overlap_transfer.hpp"

using namespace zelk::time_operators;

namespace {

const TransferSpace legendre{true, 1, 0, false, false};
const TransferSpace cg{false, 2, 0, true, false};
const TransferSpace gauss_dg{false, 2, 1, false, false};

}  // namespace

TEST(OverlapTransfer, ShapeFaults)
{
    const std::vector<double> grid{0.0, 0.5, 1.0};
    const std::vector<double> longer{0.0, 2.0};
    const std::vector<double> single{0.0};
    EXPECT_EQ(fault_message([&] { transfer_shape(Transfer::projection, legendre, legendre, grid, longer); }),
              "the two grids must cover the same span");
    EXPECT_EQ(fault_message([&] { transfer_shape(Transfer::projection, legendre, legendre, single, grid); }),
              "time grid requires at least one interval");
    EXPECT_EQ(fault_message([&] { transfer_shape(Transfer::interpolation, cg, legendre, grid, grid); }),
              "interpolation needs a Lagrange target");
    EXPECT_EQ(fault_message([&] { transfer_shape(Transfer::projection, legendre, cg, grid, grid); }),
              "projection onto a continuous Lagrange space needs a global solve");
    const TransferSpace continuous_gauss{false, 2, 1, true, false};
    EXPECT_EQ(fault_message([&] { transfer_shape(Transfer::projection, continuous_gauss, legendre, grid, grid); }),
              "continuous Lagrange spaces need both ends among their nodes");
}

TEST(OverlapTransfer, SweepCountsTheColumnsEachTargetIntervalReaches)
{
    const std::vector<double> source{0.0, 0.25, 0.75, 1.0};
    const std::vector<double> target{0.0, 0.5, 1.0};
    // Each target sub-interval overlaps two source ones: 2 x 2 Legendre columns, or 2 x 2 + 1 shared nodes.
    const TransferShape modal = transfer_shape(Transfer::projection, legendre, gauss_dg, source, target);
    EXPECT_EQ(modal.reached_columns, 8u);
    EXPECT_EQ(modal.max_nnz, 24u);
    const TransferShape nodal = transfer_shape(Transfer::projection, cg, legendre, source, target);
    EXPECT_EQ(nodal.reached_columns, 10u);
    EXPECT_EQ(nodal.nrows, 4u);
    EXPECT_EQ(nodal.ncols, 7u);
}

TEST(OverlapTransfer, EndNodesReadTheirOwnSideOfASharedPoint)
{
    // Piecewise constants 1 and 2 (coefficients by sub-interval) at the nodes of a discontinuous linear space.
    const std::vector<double> grid{0.0, 0.5, 1.0};
    const TransferSpace constants{true, 0, 0, false, false};
    const TransferSpace dg{false, 1, 0, false, false};
    const TransferShape shape = transfer_shape(Transfer::interpolation, constants, dg, grid, grid);
    std::vector<std::int32_t> offsets(shape.nrows + 1);
    std::vector<std::int32_t> columns(shape.max_nnz);
    std::vector<double> values(shape.max_nnz);
    const std::uint64_t nnz =
        fill_transfer_rows(shape, grid, grid, zelk::linear_algebra::CsrRows<std::int32_t>{offsets, columns, values});
    EXPECT_EQ(nnz, 4u);
    EXPECT_EQ(columns, (std::vector<std::int32_t>{0, 0, 1, 1}));
    EXPECT_EQ(values, (std::vector<double>{1.0, 1.0, 1.0, 1.0}));
}
