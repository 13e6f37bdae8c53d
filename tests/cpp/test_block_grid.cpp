// Block grid assembly: placement of blocks, explicit zeros, and the consistency faults with their precedence.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fault/fault.hpp"
#include "linear_algebra/coo_matrix.hpp"
#include "linear_algebra/sparse_conversions.hpp"
#include "sparse_matrix_tools/csr_block_from_ndarray.hpp"
#include "sparse_matrix_tools/csr_to_triplets.hpp"

using zelk::linear_algebra::CooMatrix;
using zelk::linear_algebra::CsrMatrix;
using zelk::sparse_matrix_tools::csr_block_from_ndarray;
using zelk::sparse_matrix_tools::csr_to_triplets;
using zelk::sparse_matrix_tools::CsrBlockGrid;
using Cell = CsrBlockGrid::Cell;
using U64s = std::vector<std::uint64_t>;

namespace {

// A dense-looking block whose entry (r, c) is base + 10 r + c; only the
// listed positions are stored.
CsrMatrix block(std::uint64_t nrows, std::uint64_t ncols, double base,
                const std::vector<std::pair<std::uint64_t, std::uint64_t>>& stored)
{
    CooMatrix coo(nrows, ncols);
    for (auto [r, c] : stored) coo.push(r, c, base + 10.0 * static_cast<double>(r) + static_cast<double>(c));
    return zelk::linear_algebra::convert_coo_csr(coo);
}

CsrMatrix assemble(std::uint64_t R, std::uint64_t C, const std::vector<Cell>& cells)
{
    return csr_block_from_ndarray(CsrBlockGrid(R, C, cells));
}

std::string fault_message(std::uint64_t R, std::uint64_t C, const std::vector<Cell>& cells)
{
    try {
        assemble(R, C, cells);
    } catch (const zelk::Fault& f) {
        return f.message();
    }
    return "<no fault>";
}

}  // namespace

TEST(BlockGrid, OneByOneReproducesTheBlock)
{
    const CsrMatrix a = block(3, 4, 100.0, {{0, 3}, {0, 1}, {2, 0}, {2, 2}});
    const CsrMatrix m = assemble(1, 1, {a});
    EXPECT_EQ(m.nrows(), 3u);
    EXPECT_EQ(m.ncols(), 4u);
    EXPECT_EQ(m.row_offsets(), a.row_offsets());
    EXPECT_EQ(m.col_indices(), a.col_indices());
    EXPECT_EQ(m.values(), a.values());
}

TEST(BlockGrid, StacksVerticallyAndSideBySide)
{
    const CsrMatrix a = block(2, 3, 100.0, {{0, 0}, {1, 2}});
    const CsrMatrix b = block(1, 3, 200.0, {{0, 1}});
    const auto tall = csr_to_triplets(assemble(2, 1, {a, b}));
    EXPECT_EQ(tall.row_indices, (U64s{0, 1, 2}));
    EXPECT_EQ(tall.col_indices, (U64s{0, 2, 1}));
    EXPECT_EQ(tall.values, (std::vector<double>{100.0, 112.0, 201.0}));

    const CsrMatrix left = block(2, 2, 100.0, {{0, 1}, {1, 0}});
    const CsrMatrix right = block(2, 3, 200.0, {{0, 0}, {0, 2}, {1, 1}});
    const CsrMatrix wide = assemble(1, 2, {left, right});
    EXPECT_EQ(wide.nrows(), 2u);
    EXPECT_EQ(wide.ncols(), 5u);
    const auto t = csr_to_triplets(wide);
    EXPECT_EQ(t.row_indices, (U64s{0, 0, 0, 1, 1}));
    EXPECT_EQ(t.col_indices, (U64s{1, 2, 4, 0, 3}));
    EXPECT_EQ(t.values, (std::vector<double>{101.0, 200.0, 202.0, 110.0, 211.0}));
}

TEST(BlockGrid, SharedBlocksZeroSizesAndExplicitZeros)
{
    // The same block in two cells, a zero-height block-row and a zero-width block-column.
    const CsrMatrix a = block(2, 2, 1.0, {{0, 0}, {1, 1}});
    const CsrMatrix flat = block(0, 2, 0.0, {});
    const CsrMatrix thin = block(2, 0, 0.0, {});
    const CsrMatrix none = block(0, 0, 0.0, {});
    const CsrMatrix m = assemble(3, 3, {a, thin, a, flat, none, flat, a, thin, a});
    EXPECT_EQ(m.nrows(), 4u);
    EXPECT_EQ(m.ncols(), 4u);
    const auto t = csr_to_triplets(m);
    EXPECT_EQ(t.row_indices, (U64s{0, 0, 1, 1, 2, 2, 3, 3}));
    EXPECT_EQ(t.col_indices, (U64s{0, 2, 1, 3, 0, 2, 1, 3}));

    CooMatrix zero(1, 1);
    zero.push(0, 0, 0.0);
    const CsrMatrix z = zelk::linear_algebra::convert_coo_csr(zero);
    const auto tz = csr_to_triplets(assemble(2, 1, {z, z}));
    EXPECT_EQ(tz.row_indices, (U64s{0, 1}));
    EXPECT_EQ(tz.values, (std::vector<double>{0.0, 0.0}));
}

TEST(BlockGrid, FaultsAndTheirPrecedence)
{
    const CsrMatrix a23 = block(2, 3, 0.0, {});
    const CsrMatrix a33 = block(3, 3, 0.0, {});
    const CsrMatrix a24 = block(2, 4, 0.0, {});
    const CsrMatrix a34 = block(3, 4, 0.0, {});

    EXPECT_EQ(fault_message(0, 2, {}), "empty block grid");
    EXPECT_EQ(fault_message(3, 0, {}), "empty block grid");

    EXPECT_EQ(fault_message(2, 2, {a23, a33, a23, a23}),
              "assertion `left == right` failed: inconsistent block-row height at row 0\n  left: 3\n right: 2");
    EXPECT_EQ(fault_message(2, 2, {a23, a23, a24, a23}),
              "assertion `left == right` failed: inconsistent block-col width at col 0\n  left: 4\n right: 3");
    // Block-row 1 disagrees in height, block-column 0 in width: the row check runs first.
    EXPECT_EQ(fault_message(2, 2, {a23, a23, a34, a23}),
              "assertion `left == right` failed: inconsistent block-row height at row 1\n  left: 2\n right: 3");
    // The index in the message is that of the block-column, not of the offending block-row.
    EXPECT_EQ(fault_message(3, 2, {a23, a23, a23, a23, a23, a24}),
              "assertion `left == right` failed: inconsistent block-col width at col 1\n  left: 4\n right: 3");

    EXPECT_THROW(CsrBlockGrid(2, 2, std::vector<Cell>{a23, a23, a23}), zelk::Fault);
}
