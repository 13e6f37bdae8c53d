// SparsityPattern: validation of raw offset and index arrays, checks in a fixed order.
#include "linear_algebra/sparsity_pattern.hpp"

#include <utility>

#include "fault/fault.hpp"
#include "fault/interrupt.hpp"

namespace zelk::linear_algebra {

namespace {

SparseFormatError structure_error(const char* message)
{
    return {SparseFormatErrorKind::InvalidStructure, message};
}

constexpr const char* out_of_bounds = "Column indices are out of bounds.";
constexpr const char* duplicate = "Matrix data contains duplicate entries.";
constexpr const char* unsorted = "Column indices are not monotonically increasing (sorted) within each row.";

constexpr const char* not_monotone = "Row offsets are not monotonically increasing.";

}  // namespace

SparsityPattern::SparsityPattern(std::uint64_t minor_dim, std::vector<std::uint64_t> major_offsets,
                                 std::vector<std::uint64_t> minor_indices) noexcept
    : major_offsets_(std::move(major_offsets)), minor_indices_(std::move(minor_indices)), minor_dim_(minor_dim)
{
}

std::variant<SparsityPattern, SparseFormatError> SparsityPattern::try_from_offsets_and_indices(
    std::uint64_t major_dim, std::uint64_t minor_dim, std::vector<std::uint64_t> major_offsets,
    std::vector<std::uint64_t> minor_indices)
{
    const std::vector<std::uint64_t>& off = major_offsets;
    const std::vector<std::uint64_t>& idx = minor_indices;

    // Written as size - 1 so that major_dim = 2^64 - 1 cannot wrap.
    if (off.empty() || off.size() - 1 != major_dim)
        return structure_error("Length of row offset array is not equal to nrows + 1.");
    const std::uint64_t last = off.back();
    if (off.front() != 0 || last != idx.size())
        return structure_error("First or last row offset is inconsistent with format specification.");

    // An offset above the last one would send the row loop past the end of
    // the indices; such an array is not monotone, so say that before reading
    // any index.
    InterruptCountdown countdown;
    for (const std::uint64_t o : off) {
        if (o > last) return structure_error(not_monotone);
        countdown.tick();
    }

    for (std::uint64_t r = 0; r < major_dim; ++r) {
        const std::uint64_t begin = off[r];
        const std::uint64_t end = off[r + 1];
        countdown.tick(end - begin + 1);
        if (begin > end) return structure_error(not_monotone);
        for (std::uint64_t k = begin; k < end; ++k) {
            const std::uint64_t c = idx[k];
            if (c >= minor_dim) return SparseFormatError{SparseFormatErrorKind::IndexOutOfBounds, out_of_bounds};
            if (k == begin) continue;
            const std::uint64_t previous = idx[k - 1];
            if (c == previous) return SparseFormatError{SparseFormatErrorKind::DuplicateEntry, duplicate};
            if (c < previous) return structure_error(unsorted);
        }
    }
    return SparsityPattern(minor_dim, std::move(major_offsets), std::move(minor_indices));
}

std::uint64_t SparsityPattern::major_dim() const
{
    if (major_offsets_.empty()) fail("assertion failed: !self.major_offsets.is_empty()");
    return major_offsets_.size() - 1;
}

}  // namespace zelk::linear_algebra
