// Interval-major renumbering: rows gathered sub-interval by sub-interval, columns remapped and re-sorted per row.
#include "time_operators/interval_major_rows.hpp"

#include <algorithm>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "time_operators/grid_mass_rows.hpp"

namespace zelk::time_operators {

using linear_algebra::CsrRows;

template <class Index>
std::uint64_t fill_interval_major_rows(const TimeOperatorShape& shape, std::span<const double> points,
                                       IntervalMajor layout, const CsrRows<Index>& out)
{
    if ((layout.trial && shape.trial.kind != BasisKind::legendre) ||
        (layout.test && shape.test.kind != BasisKind::legendre))
        fail("only a Legendre time space has an interval-major layout");
    check_csr_storage(out, shape.nrows, shape.ncols, shape.max_nnz);
    const std::uint64_t test_functions = shape.test.size();
    const std::uint64_t trial_functions = shape.trial.size();
    const std::uint64_t n_t = shape.n_t;
    // Built a chunk of sub-intervals at a time into storage that stays in
    // cache and is reused, so the renumbering costs no second matrix.
    const std::uint64_t chunk =
        std::max<std::uint64_t>(1, (std::uint64_t{1} << 20) / (test_functions * trial_functions));
    std::vector<Index> offsets;
    std::vector<Index> columns;
    std::vector<double> values;
    InterruptCountdown countdown;
    std::uint64_t e = 0;
    std::uint64_t r = 0;
    out.offsets[0] = 0;
    for (std::uint64_t k_first = shape.k_begin; k_first < shape.k_end; k_first += chunk) {
        const std::uint64_t k_last = std::min(shape.k_end, k_first + chunk);
        const TimeOperatorShape part =
            points.empty() ? time_operator_shape(shape.op, shape.trial, shape.test, n_t, shape.T, k_first, k_last)
                           : grid_mass_shape(shape.trial, shape.test, points, k_first, k_last);
        offsets.resize(part.nrows + 1);
        columns.resize(part.max_nnz);
        values.resize(part.max_nnz);
        const CsrRows<Index> built{offsets, columns, values};
        if (points.empty()) {
            fill_time_operator_rows(part, built);
        } else {
            fill_grid_mass_rows(part, points, built);
        }
        auto copy_row = [&](std::uint64_t source) {
            const auto begin = static_cast<std::uint64_t>(offsets[source]);
            const auto end = static_cast<std::uint64_t>(offsets[source + 1]);
            const std::uint64_t first = e;
            std::uint64_t function = 0;  // column c = function n_t + k, found by stepping up: c ascends
            std::uint64_t base = 0;
            for (std::uint64_t s = begin; s < end; ++s) {
                auto column = static_cast<std::uint64_t>(columns[s]);
                if (layout.trial) {
                    while (column >= base + n_t) {
                        base += n_t;
                        ++function;
                    }
                    column = (column - base) * trial_functions + function;
                }
                // Insertion into the sorted run of this row; runs are a few blocks long.
                std::uint64_t at = e;
                while (at > first && static_cast<std::uint64_t>(out.col_indices[at - 1]) > column) {
                    out.col_indices[at] = out.col_indices[at - 1];
                    out.values[at] = out.values[at - 1];
                    --at;
                }
                out.col_indices[at] = static_cast<Index>(column);
                out.values[at] = values[s];
                ++e;
            }
            out.offsets[++r] = static_cast<Index>(e);
            countdown.tick(end - begin + 1);
        };
        const std::uint64_t width = k_last - k_first;
        if (layout.test) {
            // Row k (degree + 1) + i of the chunk is its polynomial-major row i width + k.
            for (std::uint64_t k = 0; k < width; ++k) {
                for (std::uint64_t i = 0; i < test_functions; ++i) copy_row(i * width + k);
            }
        } else {
            for (std::uint64_t source = 0; source < part.nrows; ++source) copy_row(source);
        }
    }
    check_equal(r, shape.nrows, "interval-major rows miscounted");
    check_equal(e, shape.max_nnz, "interval-major entries miscounted");
    return e;
}

template std::uint64_t fill_interval_major_rows(const TimeOperatorShape&, std::span<const double>, IntervalMajor,
                                                const CsrRows<std::int32_t>&);
template std::uint64_t fill_interval_major_rows(const TimeOperatorShape&, std::span<const double>, IntervalMajor,
                                                const CsrRows<std::int64_t>&);

}  // namespace zelk::time_operators
