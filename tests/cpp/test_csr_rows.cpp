// Matrices filled row by row into caller storage: the same entries as the block assembly, any index type, checked storage.
#include <gtest/gtest.h>

#include "fault_message.hpp"

#include <bit>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "linear_algebra/csr_matrix.hpp"
#include "linear_algebra/csr_rows.hpp"
#include "piecewise_polynomials/lagrange_basis.hpp"
#include "piecewise_polynomials/lagrange_prolongation.hpp"
#include "piecewise_polynomials/transformation_rows.hpp"
#include "sparse_matrix_tools/csr_block_from_ndarray.hpp"

using namespace zelk::piecewise_polynomials;
using zelk::linear_algebra::CsrMatrix;
using zelk::linear_algebra::CsrRows;
using zelk::sparse_matrix_tools::CsrBlockGrid;

namespace {

// The transformation as the row blocks of each Legendre degree, stacked by the block grid assembly.
CsrMatrix stacked_blocks(const LagrangeBasis& basis)
{
    std::vector<CsrMatrix> blocks;
    for (std::uint64_t p = 0; p <= basis.degree; ++p)
        blocks.push_back(basis.to_legendre_basis_matrix_for_pol_degree(p));
    std::vector<CsrBlockGrid::Cell> cells(blocks.begin(), blocks.end());
    return zelk::sparse_matrix_tools::csr_block_from_ndarray(CsrBlockGrid(blocks.size(), 1, cells));
}

void expect_same(const CsrMatrix& a, const CsrMatrix& b)
{
    EXPECT_EQ(a.ncols(), b.ncols());
    EXPECT_EQ(a.row_offsets(), b.row_offsets());
    EXPECT_EQ(a.col_indices(), b.col_indices());
    ASSERT_EQ(a.nnz(), b.nnz());
    for (std::uint64_t k = 0; k < a.nnz(); ++k)
        EXPECT_EQ(std::bit_cast<std::uint64_t>(a.values()[k]), std::bit_cast<std::uint64_t>(b.values()[k]));
}

}  // namespace

TEST(CsrRows, TransformationFilledInPlaceEqualsTheStackedBlocks)
{
    for (std::uint64_t degree = 1; degree <= 7; ++degree) {
        for (std::uint64_t n_t : {0u, 1u, 4u}) {
            const LagrangeBasis basis = LagrangeBasis::new_(degree, n_t, 1.0);
            expect_same(basis.get_transormation_matrix_to_legendre(), stacked_blocks(basis));
        }
    }
}

TEST(CsrRows, Int32IndicesHoldTheSameEntries)
{
    const ProlongationShape shape = prolongation_shape(3, 5, 7);
    const CsrMatrix wide = lagrange_prolongation(3, 5, 7);
    std::vector<std::int32_t> offsets(shape.nrows + 1), cols(shape.max_nnz);
    std::vector<double> values(shape.max_nnz);
    const std::uint64_t nnz = fill_prolongation_rows<std::int32_t>(shape, {offsets, cols, values});
    ASSERT_EQ(nnz, wide.nnz());
    for (std::uint64_t r = 0; r <= shape.nrows; ++r) EXPECT_EQ(std::uint64_t(offsets[r]), wide.row_offsets()[r]);
    for (std::uint64_t k = 0; k < nnz; ++k) {
        EXPECT_EQ(std::uint64_t(cols[k]), wide.col_indices()[k]);
        EXPECT_EQ(values[k], wide.values()[k]);
    }
}

TEST(CsrRows, StorageIsCheckedBeforeAnythingIsWritten)
{
    const TransformationShape shape = transformation_shape(2, 3, LagrangeBasis::point_count(2, 3));
    std::vector<std::int32_t> offsets(shape.nrows + 1), cols(shape.nnz);
    std::vector<double> values(shape.nnz);
    const CsrRows<std::int32_t> short_values{offsets, cols, std::span(values).first(shape.nnz - 1)};
    EXPECT_EQ(fault_message([&] { fill_transformation_rows(shape, short_values); }), "CSR entry storage too small");
    const CsrRows<std::int32_t> short_offsets{std::span(offsets).first(shape.nrows), cols, values};
    EXPECT_NE(fault_message([&] { fill_transformation_rows(shape, short_offsets); }), "<no fault>");
    const TransformationShape wide = transformation_shape(1, 1, std::uint64_t{1} << 31);
    EXPECT_EQ(fault_message([&] { fill_transformation_rows(wide, CsrRows<std::int32_t>{offsets, cols, values}); }),
              "CSR index type too narrow for the matrix");
    std::vector<double> points(5);
    EXPECT_EQ(fault_message([&] { LagrangeBasis::fill_points(2, 3, 1.0, points); }).substr(0, 25),
              "assertion `left == right`");
}

TEST(CsrRows, RangesOwnTheirRowsAndNoOthers)
{
    // Nodal rows: p per sub-interval, the end point only with the last one.
    EXPECT_EQ(prolongation_shape(3, 5, 7, 2, 4).nrows, 6u);
    EXPECT_EQ(prolongation_shape(3, 5, 7, 2, 4).first_row, 6u);
    EXPECT_EQ(prolongation_shape(3, 5, 7, 6, 7).nrows, 4u);
    EXPECT_EQ(prolongation_shape(3, 5, 7, 7, 7).nrows, 0u);
    EXPECT_EQ(prolongation_shape(3, 5, 7, 7, 7).max_nnz, 0u);
    // Modal rows: one per polynomial and sub-interval.
    EXPECT_EQ(transformation_shape(3, 9, 28, 2, 5).nrows, 12u);
    EXPECT_EQ(transformation_shape(3, 9, 28, 2, 5).nnz, 48u);
    const std::string beyond = "Lagrange prolongation rows beyond the fine grid";
    EXPECT_EQ(fault_message([] { prolongation_shape(3, 5, 7, 5, 4); }), beyond);
    EXPECT_EQ(fault_message([] { prolongation_shape(3, 5, 7, 0, 8); }), beyond);
    EXPECT_EQ(fault_message([] { transformation_shape(3, 9, 28, 0, 10); }),
              "Lagrange to Legendre rows beyond the grid");
}
