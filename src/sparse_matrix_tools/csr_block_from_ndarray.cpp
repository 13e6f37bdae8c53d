// csr_block_from_ndarray: consistency checks of block heights and widths, then shifted copies of all entries.
#include "sparse_matrix_tools/csr_block_from_ndarray.hpp"

#include <string>
#include <utility>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "linear_algebra/coo_matrix.hpp"
#include "linear_algebra/sparse_conversions.hpp"

namespace zelk::sparse_matrix_tools {

using linear_algebra::CooMatrix;
using linear_algebra::CsrMatrix;

CsrBlockGrid::CsrBlockGrid(std::uint64_t block_rows, std::uint64_t block_cols, std::span<const Cell> cells)
    : block_rows_(block_rows), block_cols_(block_cols), cells_(cells)
{
    check_equal(cells.size(), checked_mul(block_rows, block_cols), "block grid cell count");
}

CsrMatrix csr_block_from_ndarray(const CsrBlockGrid& grid)
{
    const std::uint64_t R = grid.block_rows();
    const std::uint64_t C = grid.block_cols();
    if (R == 0 || C == 0) fail("empty block grid");

    // Every row height is checked before any column width.
    std::vector<std::uint64_t> row_offset = reserved_vector<std::uint64_t>(checked_add(R, 1));
    row_offset.push_back(0);
    for (std::uint64_t i = 0; i < R; ++i) {
        const std::uint64_t height = grid.at(i, 0).nrows();
        for (std::uint64_t j = 1; j < C; ++j) {
            const std::uint64_t found = grid.at(i, j).nrows();
            if (found != height)
                fail_equality(found, height, "inconsistent block-row height at row " + std::to_string(i));
        }
        row_offset.push_back(checked_add(row_offset.back(), height));
    }
    std::vector<std::uint64_t> col_offset = reserved_vector<std::uint64_t>(checked_add(C, 1));
    col_offset.push_back(0);
    for (std::uint64_t j = 0; j < C; ++j) {
        const std::uint64_t width = grid.at(0, j).ncols();
        for (std::uint64_t i = 1; i < R; ++i) {
            const std::uint64_t found = grid.at(i, j).ncols();
            if (found != width) fail_equality(found, width, "inconsistent block-col width at col " + std::to_string(j));
        }
        col_offset.push_back(checked_add(col_offset.back(), width));
    }

    std::uint64_t entries = 0;
    for (std::uint64_t i = 0; i < R; ++i) {
        for (std::uint64_t j = 0; j < C; ++j) entries = checked_add(entries, grid.at(i, j).nnz());
    }

    CooMatrix coo(row_offset.back(), col_offset.back());
    coo.reserve(entries);
    for (std::uint64_t i = 0; i < R; ++i) {
        for (std::uint64_t j = 0; j < C; ++j) {
            poll_interrupt();  // many small blocks add up to long work
            const std::uint64_t o = row_offset[i];
            const std::uint64_t q = col_offset[j];
            grid.at(i, j).for_each_entry([&](std::uint64_t r, std::uint64_t c, double v) {
                coo.push(o + r, q + c, v);
            });
        }
    }
    // Blocks do not overlap and hold no repeated positions: nothing is summed.
    return linear_algebra::convert_coo_csr(std::move(coo));
}

}  // namespace zelk::sparse_matrix_tools
