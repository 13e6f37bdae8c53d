// CooMatrix: a sparse matrix of doubles in coordinate form, assembled entry by entry.
#pragma once

#include <cstdint>
#include <vector>

namespace zelk::linear_algebra {

// The three parallel arrays of a coordinate matrix, handed over whole so that
// a consumer can release each one as soon as it has read it.
struct CooArrays {
    std::vector<std::uint64_t> row_indices;
    std::vector<std::uint64_t> col_indices;
    std::vector<double> values;
};

// Entries may come in any order and may repeat a position (repeats add up);
// explicit zeros are kept. push() keeps every index inside the shape.
class CooMatrix {
public:
    CooMatrix(std::uint64_t nrows, std::uint64_t ncols) noexcept : nrows_(nrows), ncols_(ncols) {}

    // Room for `entries` more entries; an impossible count fails here
    // ("capacity overflow" or std::bad_alloc) and not halfway through filling.
    void reserve(std::uint64_t entries);

    // Appends (i, j, v). Fails with "assertion failed: i < self.nrows", else
    // "assertion failed: j < self.ncols"; on failure nothing is appended.
    void push(std::uint64_t i, std::uint64_t j, double v);

    std::uint64_t nrows() const noexcept { return nrows_; }
    std::uint64_t ncols() const noexcept { return ncols_; }
    std::uint64_t nnz() const noexcept { return arrays_.values.size(); }
    const std::vector<std::uint64_t>& row_indices() const noexcept { return arrays_.row_indices; }
    const std::vector<std::uint64_t>& col_indices() const noexcept { return arrays_.col_indices; }
    const std::vector<double>& values() const noexcept { return arrays_.values; }

    // Moves the arrays out; the matrix is left with its shape and no entries.
    CooArrays release_arrays() && noexcept;

private:
    std::uint64_t nrows_;
    std::uint64_t ncols_;
    CooArrays arrays_;
};

}  // namespace zelk::linear_algebra
