// Interval-major rows in one pass: the few rows that differ built and renumbered once, the rest moved from a template.
#include "time_operators/interval_major_rows.hpp"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"

namespace zelk::time_operators {

using linear_algebra::CsrRows;

namespace {

// The rows of one sub-interval in the target numbering, columns ascending.
struct IntervalRows {
    std::uint64_t k = 0;
    std::vector<std::uint64_t> offsets;
    std::vector<std::uint64_t> columns;
    std::vector<double> values;
};

// Sub-interval k's rows from the polynomial-major build (its fill on the range
// [k, k + 1], bit for bit), renumbered and re-sorted within each row.
IntervalRows interval_rows(const TimeOperatorShape& shape, IntervalMajor layout, std::uint64_t k)
{
    const TimeOperatorShape part = time_operator_part(shape, k, k + 1);
    std::vector<std::int64_t> offsets(part.nrows + 1);
    std::vector<std::int64_t> columns(part.max_nnz);
    std::vector<double> values(part.max_nnz);
    fill_time_operator_rows<std::int64_t>(part, {offsets, columns, values});
    IntervalRows rows;
    rows.k = k;
    rows.offsets.assign(offsets.begin(), offsets.end());
    rows.columns.reserve(columns.size());
    rows.values.reserve(values.size());
    const std::uint64_t trial_functions = shape.trial.size();
    const std::uint64_t n_t = shape.n_t;
    std::vector<std::uint64_t> order;
    for (std::uint64_t r = 0; r < part.nrows; ++r) {
        const auto begin = static_cast<std::uint64_t>(offsets[r]);
        const auto end = static_cast<std::uint64_t>(offsets[r + 1]);
        order.resize(end - begin);
        std::iota(order.begin(), order.end(), begin);
        auto moved = [&](std::uint64_t e) {
            const auto column = static_cast<std::uint64_t>(columns[e]);
            // Column c = function n_t + k of the polynomial-major trial space.
            return layout.trial ? (column % n_t) * trial_functions + column / n_t : column;
        };
        // A row's columns are distinct: the order is the same for any sort.
        std::sort(order.begin(), order.end(), [&](std::uint64_t a, std::uint64_t b) { return moved(a) < moved(b); });
        for (const std::uint64_t e : order) {
            rows.columns.push_back(moved(e));
            rows.values.push_back(values[e]);
        }
    }
    return rows;
}

// Sub-interval k = 2 and later ones see the same parts shifted by k (the
// uniform fill moves its rows alike): the same values, columns moved by a step.
constexpr std::uint64_t template_k = 2;

// Entries and rows in one block of moved rows: small enough to stay in cache
// while it is copied, large enough that each copy is a long run.
constexpr std::uint64_t block_work = 4096;

class IntervalMajorRows {
public:
    IntervalMajorRows(const TimeOperatorShape& shape, IntervalMajor layout) : shape_(shape)
    {
        // How far columns move with the sub-interval, in the target numbering.
        if (shape.trial.kind == BasisKind::lagrange) {
            step_ = shape.trial.degree;
        } else {
            step_ = layout.trial ? shape.trial.size() : 1;
        }
        const std::uint64_t n_t = shape.n_t;
        // Built where they stand: the first sub-intervals, the template, and
        // the last (a Lagrange test space's end point).
        for (const std::uint64_t k : {std::uint64_t{0}, std::uint64_t{1}, template_k, n_t - 1}) {
            if (k < shape.k_begin || k >= shape.k_end) continue;
            if (std::any_of(built_.begin(), built_.end(), [&](const IntervalRows& b) { return b.k == k; })) continue;
            built_.push_back(interval_rows(shape, layout, k));
        }
        // Sub-intervals from template_k + 1 on, but for the last, are moved.
        if (shape.k_end > template_k + 1) {
            const auto at =
                std::find_if(built_.begin(), built_.end(), [](const IntervalRows& b) { return b.k == template_k; });
            template_ = at != built_.end() ? *at : interval_rows(shape, layout, template_k);
        }
    }

    template <class Index>
    std::uint64_t fill(const CsrRows<Index>& out, bool interval_major_test)
    {
        out.offsets[0] = 0;
        if (shape_.test.kind == BasisKind::legendre && !interval_major_test) {
            for (std::uint64_t i = 0; i < shape_.test.size(); ++i) intervals(out, i, 1);
        } else {
            intervals(out, 0, 0);
        }
        check_equal(r_, shape_.nrows, "interval-major rows miscounted");
        check_equal(e_, shape_.max_nnz, "interval-major entries miscounted");
        return e_;
    }

    // The rows fill writes, in its order, counted from the same patterns:
    // each run of moved sub-intervals counted row kind by row kind.
    void count(linear_algebra::BlockCounts& counts, bool interval_major_test)
    {
        // Rows [first, first + kinds) of each sub-interval (kinds 0: all of them), as intervals() writes them.
        const auto each_interval = [&](std::uint64_t first, std::uint64_t kinds) {
            std::uint64_t k = shape_.k_begin;
            while (k < shape_.k_end) {
                if (built(k)) {
                    const IntervalRows& rows = rows_of(k);
                    const std::uint64_t last = kinds != 0 ? first + kinds : rows.offsets.size() - 1;
                    for (std::uint64_t j = first; j < last; ++j)
                        counts.row(rows.columns.data() + rows.offsets[j], rows.offsets[j + 1] - rows.offsets[j], 0);
                    ++k;
                    continue;
                }
                std::uint64_t end = k + 1;
                while (end < shape_.k_end && !built(end)) ++end;
                const std::vector<std::uint64_t>& offsets = template_.offsets;
                const std::uint64_t per = kinds != 0 ? kinds : offsets.size() - 1 - first;
                for (std::uint64_t j = first; j < first + per; ++j) {
                    counts.moved(template_.columns.data() + offsets[j], offsets[j + 1] - offsets[j],
                                 (k - template_.k) * step_, step_, end - k, j - first, per);
                }
                counts.skip((end - k) * per);
                k = end;
            }
        };
        if (shape_.test.kind == BasisKind::legendre && !interval_major_test) {
            for (std::uint64_t i = 0; i < shape_.test.size(); ++i) each_interval(i, 1);
        } else {
            each_interval(0, 0);
        }
        check_equal(counts.rows(), shape_.nrows, "interval-major rows miscounted");
    }

private:
    bool built(std::uint64_t k) const
    {
        return std::any_of(built_.begin(), built_.end(), [&](const IntervalRows& b) { return b.k == k; });
    }

    // Rows [first, first + count) of every sub-interval of the range, k by k
    // (count 0: all of a sub-interval's rows); runs of moved sub-intervals in blocks.
    template <class Index>
    void intervals(const CsrRows<Index>& out, std::uint64_t first, std::uint64_t count)
    {
        std::uint64_t k = shape_.k_begin;
        while (k < shape_.k_end) {
            if (built(k)) {
                const std::uint64_t rows = count != 0 ? count : rows_of(k).offsets.size() - 1 - first;
                for (std::uint64_t j = first; j < first + rows; ++j) row(out, k, j);
                ++k;
                continue;
            }
            std::uint64_t end = k + 1;
            while (end < shape_.k_end && !built(end)) ++end;
            moved(out, k, end, first, count != 0 ? count : template_.offsets.size() - 1 - first);
            k = end;
        }
    }

    // Rows [first, first + count) of each sub-interval in [k_first, k_last),
    // all moved from the template: the rows of a block of sub-intervals are
    // written once; each further block is the same values, its columns and
    // offsets moved by a constant, so the fill is a copy and two additions.
    template <class Index>
    void moved(const CsrRows<Index>& out, std::uint64_t k_first, std::uint64_t k_last, std::uint64_t first,
               std::uint64_t count)
    {
        const std::vector<std::uint64_t>& offsets = template_.offsets;
        const std::uint64_t per_interval = offsets[first + count] - offsets[first];
        const std::uint64_t width = std::min(k_last - k_first, block_work / (per_interval + count) + 1);
        std::vector<Index> block_columns = reserved_vector<Index>(width * per_interval);
        std::vector<double> block_values = reserved_vector<double>(width * per_interval);
        std::vector<Index> block_offsets = reserved_vector<Index>(width * count);
        for (std::uint64_t k = k_first; k < k_first + width; ++k) {
            const std::uint64_t shift = (k - template_.k) * step_;
            for (std::uint64_t e = offsets[first]; e < offsets[first + count]; ++e) {
                block_columns.push_back(static_cast<Index>(template_.columns[e] + shift));
                block_values.push_back(template_.values[e]);
            }
            for (std::uint64_t j = first; j < first + count; ++j)
                block_offsets.push_back(static_cast<Index>(block_offsets.empty() ? 0 : block_offsets.back()) +
                                        static_cast<Index>(offsets[j + 1] - offsets[j]));
        }
        for (std::uint64_t k = k_first; k < k_last; k += width) {
            const std::uint64_t intervals = std::min(width, k_last - k);
            const std::uint64_t entries = intervals * per_interval;
            const std::uint64_t rows = intervals * count;
            const auto column_shift = static_cast<Index>((k - k_first) * step_);
            const auto offset_shift = static_cast<Index>(e_);
            Index* const column = out.col_indices.data() + e_;
            for (std::uint64_t e = 0; e < entries; ++e) column[e] = static_cast<Index>(block_columns[e] + column_shift);
            std::copy_n(block_values.data(), entries, out.values.data() + e_);
            Index* const offset = out.offsets.data() + r_ + 1;
            for (std::uint64_t j = 0; j < rows; ++j) offset[j] = static_cast<Index>(block_offsets[j] + offset_shift);
            e_ += entries;
            r_ += rows;
            countdown_.tick(entries + rows);
        }
    }

    const IntervalRows& rows_of(std::uint64_t k) const
    {
        for (const IntervalRows& b : built_) {
            if (b.k == k) return b;
        }
        return template_;
    }

    // Row j of sub-interval k.
    template <class Index>
    void row(const CsrRows<Index>& out, std::uint64_t k, std::uint64_t j)
    {
        const IntervalRows& rows = rows_of(k);
        const std::uint64_t shift = (k - rows.k) * step_;
        const std::uint64_t begin = rows.offsets[j];
        const std::uint64_t end = rows.offsets[j + 1];
        const std::uint64_t* const columns = rows.columns.data();
        const double* const values = rows.values.data();
        Index* const column = out.col_indices.data() + e_;
        double* const value = out.values.data() + e_;
        for (std::uint64_t e = begin; e < end; ++e) {
            column[e - begin] = static_cast<Index>(columns[e] + shift);
            value[e - begin] = values[e];
        }
        e_ += end - begin;
        out.offsets[++r_] = static_cast<Index>(e_);
        countdown_.tick(end - begin + 1);
    }

    const TimeOperatorShape& shape_;
    std::uint64_t step_ = 1;
    std::vector<IntervalRows> built_;
    IntervalRows template_;
    std::uint64_t e_ = 0;  // entries and rows written
    std::uint64_t r_ = 0;
    InterruptCountdown countdown_;
};

}  // namespace

template <class Index>
std::uint64_t fill_interval_major_rows(const TimeOperatorShape& shape, std::span<const double> points,
                                       IntervalMajor layout, const CsrRows<Index>& out)
{
    if (!points.empty()) return fill_grid_mass_rows(shape, points, layout, out);
    if ((layout.trial && shape.trial.kind != BasisKind::legendre) ||
        (layout.test && shape.test.kind != BasisKind::legendre))
        fail("only a Legendre time space has an interval-major layout");
    check_csr_storage(out, shape.nrows, shape.ncols, shape.max_nnz);
    return IntervalMajorRows(shape, layout).fill(out, layout.test);
}

void count_interval_major_rows(const TimeOperatorShape& shape, IntervalMajor layout,
                               linear_algebra::BlockCounts& counts)
{
    if ((layout.trial && shape.trial.kind != BasisKind::legendre) ||
        (layout.test && shape.test.kind != BasisKind::legendre))
        fail("only a Legendre time space has an interval-major layout");
    IntervalMajorRows(shape, layout).count(counts, layout.test);
}

template std::uint64_t fill_interval_major_rows(const TimeOperatorShape&, std::span<const double>, IntervalMajor,
                                                const CsrRows<std::int32_t>&);
template std::uint64_t fill_interval_major_rows(const TimeOperatorShape&, std::span<const double>, IntervalMajor,
                                                const CsrRows<std::int64_t>&);

}  // namespace zelk::time_operators
