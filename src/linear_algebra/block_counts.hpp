// BlockCounts: each row's entries counted inside and outside a column block, as a distributed matrix preallocates.
#pragma once

#include <cstdint>
#include <span>

#include "fault/fault.hpp"
#include "fault/interrupt.hpp"

namespace zelk::linear_algebra {

// Takes rows one after another, each as its ascending columns (a pattern
// shared by many rows, moved by a shift), and writes inside[r] = the
// entries of row r in [column_begin, column_end) and outside[r] the others.
// Nothing per entry is kept; a row wholly on one side costs two comparisons.
class BlockCounts {
public:
    BlockCounts(std::uint64_t column_begin, std::uint64_t column_end, std::span<std::int64_t> inside,
                std::span<std::int64_t> outside)
        : begin_(column_begin), end_(column_end), inside_(inside), outside_(outside)
    {
        check_equal(inside.size(), outside.size(), "count storage has the wrong length");
    }

    // The next row: columns[e] + shift for e < n, ascending (modulo 2^64, so
    // a pattern may hold columns left of its shift as two's complements).
    template <class Column>
    void row(const Column* columns, std::uint64_t n, std::uint64_t shift)
    {
        if (r_ >= inside_.size()) fail("more rows counted than there is storage for");
        std::uint64_t in = 0;
        if (n > 0) {
            const std::uint64_t first = shift + static_cast<std::uint64_t>(columns[0]);
            const std::uint64_t last = shift + static_cast<std::uint64_t>(columns[n - 1]);
            if (first >= begin_ && last < end_) {
                in = n;
            } else if (last >= begin_ && first < end_) {
                for (std::uint64_t e = 0; e < n; ++e) {
                    const std::uint64_t column = shift + static_cast<std::uint64_t>(columns[e]);
                    in += column >= begin_ && column < end_ ? 1 : 0;
                }
            }
        }
        inside_[r_] = static_cast<std::int64_t>(in);
        outside_[r_] = static_cast<std::int64_t>(n - in);
        ++r_;
        countdown_.tick(1);
    }

    // Rows counted so far.
    std::uint64_t rows() const noexcept { return r_; }

private:
    std::uint64_t begin_;
    std::uint64_t end_;
    std::span<std::int64_t> inside_;
    std::span<std::int64_t> outside_;
    std::uint64_t r_ = 0;
    InterruptCountdown countdown_;
};

}  // namespace zelk::linear_algebra
