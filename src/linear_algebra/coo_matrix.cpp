// CooMatrix: checked reservation and range-checked appending.
#include "linear_algebra/coo_matrix.hpp"

#include <utility>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"

namespace zelk::linear_algebra {

void CooMatrix::reserve(std::uint64_t entries)
{
    const std::size_t total = checked_length<std::uint64_t>(checked_add(nnz(), entries));
    // The three arrays together must fit, or nothing is reserved.
    require_memory(total, sizeof(std::uint64_t) + sizeof(std::uint64_t) + sizeof(double));
    // Reserve all three before any grows, so a failure leaves the capacities
    // of the arrays that matter consistent (nothing is appended either way).
    arrays_.row_indices.reserve(total);
    arrays_.col_indices.reserve(total);
    arrays_.values.reserve(total);
}

void CooMatrix::push(std::uint64_t i, std::uint64_t j, double v)
{
    if (i >= nrows_) fail("assertion failed: i < self.nrows");
    if (j >= ncols_) fail("assertion failed: j < self.ncols");
    // Each push_back may throw std::bad_alloc; undo the earlier ones so the
    // three arrays never differ in length.
    arrays_.row_indices.push_back(i);
    try {
        arrays_.col_indices.push_back(j);
        try {
            arrays_.values.push_back(v);
        } catch (...) {
            arrays_.col_indices.pop_back();
            throw;
        }
    } catch (...) {
        arrays_.row_indices.pop_back();
        throw;
    }
}

CooArrays CooMatrix::release_arrays() && noexcept
{
    CooArrays out = std::move(arrays_);
    arrays_ = CooArrays{};
    return out;
}

}  // namespace zelk::linear_algebra
