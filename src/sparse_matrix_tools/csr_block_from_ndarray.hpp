// csr_block_from_ndarray: one compressed matrix assembled from a grid of compressed blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "linear_algebra/csr_matrix.hpp"

namespace zelk::sparse_matrix_tools {

// An R x C grid of references to blocks, cells stored row-major. It neither
// owns nor copies the blocks; one block may sit in several cells. The cell
// storage and the blocks must outlive the grid.
class CsrBlockGrid {
public:
    using Cell = std::reference_wrapper<const linear_algebra::CsrMatrix>;

    // Fails (equality-check message) unless there are block_rows * block_cols cells.
    CsrBlockGrid(std::uint64_t block_rows, std::uint64_t block_cols, std::span<const Cell> cells);

    std::uint64_t block_rows() const noexcept { return block_rows_; }
    std::uint64_t block_cols() const noexcept { return block_cols_; }
    // Unchecked: i < block_rows(), j < block_cols().
    const linear_algebra::CsrMatrix& at(std::uint64_t i, std::uint64_t j) const noexcept
    {
        return cells_[i * block_cols_ + j].get();
    }

private:
    std::uint64_t block_rows_;
    std::uint64_t block_cols_;
    std::span<const Cell> cells_;
};

// Block (i, j) placed at block-row i and block-column j; its entry (r, c, v)
// becomes (o_i + r, q_j + c, v), explicit zeros kept. Faults: "empty block
// grid"; a block whose row count differs from block (i, 0) of its block-row,
// checked for all block-rows first; a block whose column count differs from
// block (0, j) of its block-column.
linear_algebra::CsrMatrix csr_block_from_ndarray(const CsrBlockGrid& grid);

}  // namespace zelk::sparse_matrix_tools
