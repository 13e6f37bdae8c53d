// SparsityPattern: the validated index structure (offsets and minor indices) of a compressed sparse matrix.
#pragma once

#include <cstdint>
#include <variant>
#include <vector>

#include "linear_algebra/sparse_format_error.hpp"

namespace zelk::linear_algebra {

// Row offsets (one more than the number of rows, from 0 to the entry count,
// never decreasing) and, row after row, strictly increasing column indices
// below minor_dim. Only a validated pattern can exist.
class SparsityPattern {
public:
    // Takes the arrays and checks them; on failure returns the first failing
    // check and releases the arrays.
    static std::variant<SparsityPattern, SparseFormatError> try_from_offsets_and_indices(
        std::uint64_t major_dim, std::uint64_t minor_dim, std::vector<std::uint64_t> major_offsets,
        std::vector<std::uint64_t> minor_indices);

    // Fails with "assertion failed: !self.major_offsets.is_empty()" on a
    // moved-from pattern, the only one without offsets.
    std::uint64_t major_dim() const;
    std::uint64_t minor_dim() const noexcept { return minor_dim_; }
    std::uint64_t nnz() const noexcept { return minor_indices_.size(); }
    const std::vector<std::uint64_t>& major_offsets() const noexcept { return major_offsets_; }
    const std::vector<std::uint64_t>& minor_indices() const noexcept { return minor_indices_; }

private:
    SparsityPattern(std::uint64_t minor_dim, std::vector<std::uint64_t> major_offsets,
                    std::vector<std::uint64_t> minor_indices) noexcept;

    std::vector<std::uint64_t> major_offsets_;
    std::vector<std::uint64_t> minor_indices_;
    std::uint64_t minor_dim_;
};

}  // namespace zelk::linear_algebra
