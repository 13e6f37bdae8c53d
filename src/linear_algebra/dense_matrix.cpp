// Construction of dense matrices and views, with their size checks.
#include "linear_algebra/dense_matrix.hpp"

#include <utility>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"

namespace zelk::linear_algebra {

DenseMatrixView DenseMatrixView::column_major(std::span<const double> data, std::uint64_t nrows, std::uint64_t ncols)
{
    if (data.size() < checked_mul(nrows, ncols)) fail("Matrix view: input data buffer too small.");
    return DenseMatrixView(data.data(), nrows, ncols);
}

DenseMatrix::DenseMatrix(std::uint64_t nrows, std::uint64_t ncols)
    : nrows_(nrows), ncols_(ncols), values_(reserved_vector<double>(checked_mul(nrows, ncols)))
{
    fill_interruptibly(values_, nrows * ncols, 0.0);
}

DenseMatrix::DenseMatrix(std::uint64_t nrows, std::uint64_t ncols, std::vector<double> values)
    : nrows_(nrows), ncols_(ncols), values_(std::move(values))
{
    check_equal(values_.size(), checked_mul(nrows, ncols), "DenseMatrix: value count differs from nrows * ncols");
}

DenseMatrix DenseMatrix::identity(std::uint64_t n)
{
    DenseMatrix m(n, n);
    for (std::uint64_t i = 0; i < n; ++i) m(i, i) = 1.0;
    return m;
}

}  // namespace zelk::linear_algebra
