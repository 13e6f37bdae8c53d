// Column-major dense matrices of doubles: an owning DenseMatrix and a read-only view over a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zelk::linear_algebra {

// Read-only view of an nrows x ncols column-major table; entry (i, j) is
// data[i + j * nrows]. It never owns the buffer it looks at.
class DenseMatrixView {
public:
    // Views the first nrows * ncols values of `data`; fails with
    // "Matrix view: input data buffer too small." if there are fewer.
    static DenseMatrixView column_major(std::span<const double> data, std::uint64_t nrows, std::uint64_t ncols);

    std::uint64_t nrows() const noexcept { return nrows_; }
    std::uint64_t ncols() const noexcept { return ncols_; }
    // Unchecked: callers test their indices against nrows() and ncols().
    double operator()(std::uint64_t i, std::uint64_t j) const noexcept { return data_[i + j * nrows_]; }

private:
    DenseMatrixView(const double* data, std::uint64_t nrows, std::uint64_t ncols) noexcept
        : data_(data), nrows_(nrows), ncols_(ncols)
    {
    }

    const double* data_;
    std::uint64_t nrows_;
    std::uint64_t ncols_;
};

// An owning dense matrix, stored column by column.
class DenseMatrix {
public:
    // nrows x ncols zeros; the size is overflow-checked.
    DenseMatrix(std::uint64_t nrows, std::uint64_t ncols);
    // Takes the column-major values; their count must be nrows * ncols.
    DenseMatrix(std::uint64_t nrows, std::uint64_t ncols, std::vector<double> values);

    static DenseMatrix identity(std::uint64_t n);

    std::uint64_t nrows() const noexcept { return nrows_; }
    std::uint64_t ncols() const noexcept { return ncols_; }
    double operator()(std::uint64_t i, std::uint64_t j) const noexcept { return values_[i + j * nrows_]; }
    double& operator()(std::uint64_t i, std::uint64_t j) noexcept { return values_[i + j * nrows_]; }

    const std::vector<double>& values() const noexcept { return values_; }

private:
    std::uint64_t nrows_;
    std::uint64_t ncols_;
    std::vector<double> values_;
};

}  // namespace zelk::linear_algebra
