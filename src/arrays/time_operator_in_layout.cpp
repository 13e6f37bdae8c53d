// time_operator_in_layout(op, trial_is_legendre, trial_degree, trial_interval_major, test_is_legendre, test_degree,
// test_interval_major, points, n_t, T, k_begin, k_end): a time operator with interval-major Legendre spaces;
// time_operator_in_layout_counts: the same arguments and a column block, its rows' entries counted in and out.
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "arrays/block_counts_result.hpp"
#include "arrays/csr_result.hpp"
#include "arrays/float_input.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/time_basis_arguments.hpp"
#include "time_operators/grid_mass_rows.hpp"
#include "time_operators/interval_major_rows.hpp"

namespace zelk::arrays {
using namespace time_operators;

namespace {

// The twelve arguments read, the points held for the call.
struct InLayout {
    explicit InLayout(PyObject* const* args)
    {
        const std::uint64_t code = u64_arg(args[0]);
        if (code > static_cast<std::uint64_t>(TimeOperator::jump)) raise(PyExc_ValueError, "unknown operator");
        const auto op = static_cast<TimeOperator>(code);
        const LocalBasis trial = local_basis_arg(args[1], args[2]);
        layout = IntervalMajor{flag_arg(args[3]), flag_arg(args[6])};
        const LocalBasis test = local_basis_arg(args[4], args[5]);
        if (args[7] != Py_None) points.emplace(args[7], "points");
        grid = points ? points->values() : std::span<const double>{};
        const std::uint64_t k_begin = u64_arg(args[10]);
        const std::uint64_t k_end = u64_arg(args[11]);
        shape = points ? grid_mass_shape(trial, test, grid, k_begin, k_end)
                       : time_operator_shape(op, trial, test, u64_arg(args[8]), float_arg(args[9]), k_begin, k_end);
        if (points && op != TimeOperator::mass) raise(PyExc_ValueError, "only the mass matrix takes grid points");
    }

    std::optional<FloatInput> points;
    IntervalMajor layout;
    std::span<const double> grid;
    TimeOperatorShape shape{};
};

}  // namespace

PyObject* time_operator_in_layout(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the time operator in the interval-major layout", [&] {
        expect_arguments("time_operator_in_layout", nargs, 12);
        const InLayout call(args);
        CsrResult result(call.shape.nrows, call.shape.ncols, call.shape.max_nnz);
        const std::uint64_t nnz = result.fill([&](const auto& rows) {
            return fill_interval_major_rows(call.shape, call.grid, call.layout, rows);
        });
        return std::move(result).to_python(nnz);
    });
}

PyObject* time_operator_in_layout_counts(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the counts of the time operator in the interval-major layout", [&] {
        expect_arguments("time_operator_in_layout_counts", nargs, 14);
        const InLayout call(args);
        // On a grid of any points the fill keeps the uniform pattern, which call.shape holds.
        return block_counts_result(call.shape.nrows, call.shape.ncols, call.shape.max_nnz, args[12], args[13],
                                   [&](linear_algebra::BlockCounts& counts) {
            count_interval_major_rows(call.shape, call.layout, counts);
        });
    });
}

const char time_operator_in_layout_doc[] =
    "time_operator_in_layout(op, trial_is_legendre, trial_degree, trial_interval_major, test_is_legendre, "
    "test_degree, test_interval_major, points, n_t, T, k_begin, k_end, /)\n--\n\nCSR arrays and shape.";

const char time_operator_in_layout_counts_doc[] =
    "time_operator_in_layout_counts(op, trial_is_legendre, trial_degree, trial_interval_major, test_is_legendre, "
    "test_degree, test_interval_major, points, n_t, T, k_begin, k_end, column_begin, column_end, /)\n--\n\n"
    "Entries of each row inside and outside the columns, shape and bound.";

}  // namespace zelk::arrays
