// BlockCounts: each row's entries counted inside and outside a column block, as a distributed matrix preallocates.
#pragma once

#include <cstdint>
#include <limits>
#include <span>

#include "fault/fault.hpp"
#include "fault/interrupt.hpp"

namespace zelk::linear_algebra {

// Takes rows one after another, each as its ascending columns (a pattern
// shared by many rows, moved by a shift), and writes inside[r] = the
// entries of row r in [column_begin, column_end) and outside[r] the others.
// Nothing per entry is kept; a row wholly on one side costs two comparisons.
// Counts are int32: a row of the builders that count here holds a few
// entries per degree (more is a fault).
class BlockCounts {
public:
    BlockCounts(std::uint64_t column_begin, std::uint64_t column_end, std::span<std::int32_t> inside,
                std::span<std::int32_t> outside)
        : begin_(column_begin), end_(column_end), inside_(inside), outside_(outside)
    {
        check_equal(inside.size(), outside.size(), "count storage has the wrong length");
    }

    // The next row: columns[e] + shift for e < n, ascending (modulo 2^64, so
    // a pattern may hold columns left of its shift as two's complements).
    template <class Column>
    void row(const Column* columns, std::uint64_t n, std::uint64_t shift)
    {
        moved(columns, n, shift, 0, 1, 0, 1);
        skip(1);
        countdown_.tick(n + 1);
    }

    // Rows r + offset + m stride for m < count, r the next row: the same
    // columns as row(), moved by shift + m step. skip() then passes the rows.
    template <class Column>
    void moved(const Column* columns, std::uint64_t n, std::uint64_t shift, std::uint64_t step, std::uint64_t count,
               std::uint64_t offset, std::uint64_t stride)
    {
        if (count == 0) return;
        if (r_ > inside_.size() || offset + (count - 1) * stride >= inside_.size() - r_)
            fail("more rows counted than there is storage for");
        if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
            fail("a row's entries exceed the count type");
        const auto all = static_cast<std::int32_t>(n);
        std::int32_t* const inside = inside_.data() + r_ + offset;
        std::int32_t* const outside = outside_.data() + r_ + offset;
        if (n == 0) {
            for (std::uint64_t m = 0; m < count; ++m) inside[m * stride] = outside[m * stride] = 0;
            return;
        }
        const auto low = static_cast<std::uint64_t>(columns[0]);
        const auto high = static_cast<std::uint64_t>(columns[n - 1]);
        for_each_piece(0, count, [&](std::uint64_t m_begin, std::uint64_t m_end) {
            for (std::uint64_t m = m_begin; m < m_end; ++m) {
                const std::uint64_t at = shift + m * step;
                const std::uint64_t first = at + low;
                const std::uint64_t last = at + high;
                std::int32_t in = 0;
                if (first >= begin_ && last < end_) {
                    in = all;
                } else if (last >= begin_ && first < end_) {
                    for (std::uint64_t e = 0; e < n; ++e) {
                        const std::uint64_t column = at + static_cast<std::uint64_t>(columns[e]);
                        in += column >= begin_ && column < end_ ? 1 : 0;
                    }
                }
                inside[m * stride] = in;
                outside[m * stride] = all - in;
            }
        });
    }

    // Passes `rows` rows, those the calls to moved() since the last skip() counted.
    void skip(std::uint64_t rows) noexcept { r_ += rows; }

    // Rows passed so far.
    std::uint64_t rows() const noexcept { return r_; }

private:
    std::uint64_t begin_;
    std::uint64_t end_;
    std::span<std::int32_t> inside_;
    std::span<std::int32_t> outside_;
    std::uint64_t r_ = 0;
    InterruptCountdown countdown_;
};

}  // namespace zelk::linear_algebra
