// Time operator rows: each row adds the local blocks of the (at most two) sub-intervals its test function lives on.
#include "time_operators/time_operator_rows.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "time_operators/reference_integrals.hpp"

namespace zelk::time_operators {

using linear_algebra::CsrRows;

namespace {

std::uint64_t dimension(const LocalBasis& basis, std::uint64_t n_t)
{
    if (basis.kind == BasisKind::lagrange) return checked_add(checked_mul(n_t, basis.degree), 1);
    return checked_mul(n_t, checked_add(basis.degree, 1));
}

// Columns of `width` consecutive trial sub-intervals: Lagrange neighbours share a node.
std::uint64_t window_columns(const LocalBasis& trial, std::uint64_t width)
{
    if (trial.kind == BasisKind::lagrange) return checked_add(checked_mul(width, trial.degree), 1);
    return checked_mul(width, trial.size());
}

// A test function's share on one sub-interval: local function a on sub-interval k.
struct Part {
    std::uint64_t k;
    std::uint64_t a;
};

// The local blocks of one operator, row a, column b, scaled once for the whole grid:
// `own` couples sub-interval k's test functions with its trial functions, `previous`
// with those of sub-interval k - 1 (the jump's upwind value; empty otherwise).
struct LocalBlocks {
    std::vector<double> own;
    std::vector<double> previous;
};

LocalBlocks local_blocks(const TimeOperatorShape& shape)
{
    const std::uint64_t nb = shape.trial.size();
    LocalBlocks blocks;
    switch (shape.op) {
    case TimeOperator::mass: {
        blocks.own = reference_mass(shape.trial, shape.test);
        const double h = shape.T / static_cast<double>(shape.n_t);
        for (double& value : blocks.own) value = h * value;
        break;
    }
    case TimeOperator::derivative:  // dt = (h/2) dx and d/dt = (2/h) d/dx: h cancels
        blocks.own = reference_derivative(shape.trial, shape.test);
        break;
    case TimeOperator::jump: {
        const std::vector<double> test_left = end_values(shape.test, false);
        const std::vector<double> trial_left = end_values(shape.trial, false);
        const std::vector<double> trial_right = end_values(shape.trial, true);
        blocks.own = reserved_vector<double>(checked_mul(shape.test.size(), nb));
        blocks.previous = reserved_vector<double>(shape.test.size() * nb);
        for (std::uint64_t a = 0; a < shape.test.size(); ++a) {
            for (std::uint64_t b = 0; b < nb; ++b) {
                blocks.own.push_back(test_left[a] * trial_left[b]);
                blocks.previous.push_back(-(test_left[a] * trial_right[b]));
            }
        }
        break;
    }
    }
    return blocks;
}

}  // namespace

TimeOperatorShape time_operator_shape(TimeOperator op, const LocalBasis& trial, const LocalBasis& test,
                                      std::uint64_t n_t, double T, std::uint64_t k_begin, std::uint64_t k_end)
{
    for (const LocalBasis* basis : {&trial, &test}) {
        if (basis->kind == BasisKind::lagrange && basis->degree == 0)
            fail("Lagrange time space requires degree at least 1");
    }
    if (n_t == 0) fail("time grid requires at least one interval");
    if (!(std::isfinite(T) && T > 0.0)) fail("time grid requires a positive finite end time");
    if (!(k_begin <= k_end && k_end <= n_t)) fail("interval range out of bounds");
    const std::uint64_t ncols = dimension(trial, n_t);
    dimension(test, n_t);
    const std::uint64_t intervals = k_end - k_begin;
    // Rows reach one sub-interval back for the jump's upwind value, and a
    // Lagrange test node shared by two sub-intervals reaches one more.
    const std::uint64_t reach = op == TimeOperator::jump ? 2 : 1;
    std::uint64_t nrows;
    std::uint64_t max_nnz;
    if (test.kind == BasisKind::legendre) {
        nrows = checked_mul(intervals, test.size());
        max_nnz = checked_mul(nrows, window_columns(trial, reach));
    } else {
        const bool has_end = intervals > 0 && k_end == n_t;
        nrows = checked_add(checked_mul(intervals, test.degree), has_end ? 1 : 0);
        const std::uint64_t shared = intervals == 0 ? 0 : k_end - std::max<std::uint64_t>(k_begin, 1);
        max_nnz = checked_add(checked_mul(nrows - shared, window_columns(trial, reach)),
                              checked_mul(shared, window_columns(trial, reach + 1)));
    }
    return {op, trial, test, n_t, T, k_begin, k_end, nrows, ncols, max_nnz};
}

template <class Index>
std::uint64_t fill_time_operator_rows(const TimeOperatorShape& shape, const CsrRows<Index>& out)
{
    check_csr_storage(out, shape.nrows, shape.ncols, shape.max_nnz);
    const LocalBlocks blocks = local_blocks(shape);
    const bool upwind = !blocks.previous.empty();
    const std::uint64_t n_t = shape.n_t;
    const std::uint64_t nb = shape.trial.size();
    const std::uint64_t q = shape.trial.degree;
    const bool lagrange_trial = shape.trial.kind == BasisKind::lagrange;
    // One row's values, trial sub-interval by trial sub-interval, reused for every row.
    std::vector<double> row = reserved_vector<double>(checked_mul(3, nb));
    row.resize(3 * nb);

    std::uint64_t nnz = 0;
    std::uint64_t r = 0;
    out.offsets[0] = 0;
    InterruptCountdown countdown;
    auto write_row = [&](const Part* parts, std::uint64_t count) {
        const std::uint64_t first = parts[0].k - (upwind && parts[0].k > 0 ? 1 : 0);
        const std::uint64_t width = parts[count - 1].k - first + 1;
        std::fill_n(row.begin(), width * nb, 0.0);
        for (std::uint64_t c = 0; c < count; ++c) {
            const Part& part = parts[c];
            double* own = row.data() + (part.k - first) * nb;
            const double* block = blocks.own.data() + part.a * nb;
            for (std::uint64_t b = 0; b < nb; ++b) own[b] = own[b] + block[b];
            if (upwind && part.k > 0) {
                double* previous = own - nb;
                const double* upwind_block = blocks.previous.data() + part.a * nb;
                for (std::uint64_t b = 0; b < nb; ++b) previous[b] = previous[b] + upwind_block[b];
            }
        }
        auto put = [&](std::uint64_t column, double value) {
            if (value != 0.0) {
                out.col_indices[nnz] = static_cast<Index>(column);
                out.values[nnz] = value;
                ++nnz;
            }
        };
        if (lagrange_trial) {
            // Neighbouring sub-intervals meet in a shared node: its value is the sum of both sides.
            for (std::uint64_t s = 0; s < width; ++s) {
                const double* values = row.data() + s * nb;
                const std::uint64_t base = (first + s) * q;
                put(base, s == 0 ? values[0] : values[-1] + values[0]);
                for (std::uint64_t b = 1; b < q; ++b) put(base + b, values[b]);
            }
            put((first + width) * q, row[width * nb - 1]);
        } else {
            for (std::uint64_t b = 0; b < nb; ++b) {
                for (std::uint64_t s = 0; s < width; ++s) put(b * n_t + first + s, row[s * nb + b]);
            }
        }
        ++r;
        out.offsets[r] = static_cast<Index>(nnz);
        countdown.tick(width * nb);
    };

    if (shape.test.kind == BasisKind::legendre) {
        for (std::uint64_t i = 0; i <= shape.test.degree; ++i) {
            for (std::uint64_t k = shape.k_begin; k < shape.k_end; ++k) {
                const Part part{k, i};
                write_row(&part, 1);
            }
        }
    } else {
        const std::uint64_t p = shape.test.degree;
        for (std::uint64_t k = shape.k_begin; k < shape.k_end; ++k) {
            if (k == 0) {
                const Part part{0, 0};
                write_row(&part, 1);
            } else {
                const Part parts[2] = {{k - 1, p}, {k, 0}};
                write_row(parts, 2);
            }
            for (std::uint64_t j = 1; j < p; ++j) {
                const Part part{k, j};
                write_row(&part, 1);
            }
        }
        if (shape.k_end == n_t && shape.k_begin < shape.k_end) {
            const Part part{n_t - 1, p};
            write_row(&part, 1);
        }
    }
    check_equal(r, shape.nrows, "time operator rows miscounted");
    return nnz;
}

template std::uint64_t fill_time_operator_rows(const TimeOperatorShape&, const CsrRows<std::int32_t>&);
template std::uint64_t fill_time_operator_rows(const TimeOperatorShape&, const CsrRows<std::int64_t>&);

}  // namespace zelk::time_operators
