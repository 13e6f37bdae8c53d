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
            const auto at = std::find_if(built_.begin(), built_.end(), [](const IntervalRows& b) { return b.k == template_k; });
            template_ = at != built_.end() ? *at : interval_rows(shape, layout, template_k);
        }
    }

    template <class Index>
    std::uint64_t fill(const CsrRows<Index>& out, bool interval_major_test)
    {
        out.offsets[0] = 0;
        const std::uint64_t k_begin = shape_.k_begin;
        const std::uint64_t k_end = shape_.k_end;
        if (shape_.test.kind == BasisKind::legendre && !interval_major_test) {
            for (std::uint64_t i = 0; i < shape_.test.size(); ++i) {
                for (std::uint64_t k = k_begin; k < k_end; ++k) row(out, k, i);
            }
        } else {
            for (std::uint64_t k = k_begin; k < k_end; ++k) {
                const std::uint64_t rows = rows_of(k).offsets.size() - 1;
                for (std::uint64_t j = 0; j < rows; ++j) row(out, k, j);
            }
        }
        check_equal(r_, shape_.nrows, "interval-major rows miscounted");
        check_equal(e_, shape_.max_nnz, "interval-major entries miscounted");
        return e_;
    }

private:
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

template std::uint64_t fill_interval_major_rows(const TimeOperatorShape&, std::span<const double>, IntervalMajor,
                                                const CsrRows<std::int32_t>&);
template std::uint64_t fill_interval_major_rows(const TimeOperatorShape&, std::span<const double>, IntervalMajor,
                                                const CsrRows<std::int64_t>&);

}  // namespace zelk::time_operators
