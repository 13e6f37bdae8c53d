// general_time_operator(op, trial: (is_legendre, degree, family, continuous, interval_major), test: the same,
// points, k_begin, k_end): a time operator of any two spaces on a grid of points; general_time_operator_counts:
// the same arguments and a column block, its rows' entries counted in and out.
#include <cstdint>
#include <span>
#include <utility>

#include "arrays/block_counts_result.hpp"
#include "arrays/csr_result.hpp"
#include "arrays/float_input.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/time_basis_arguments.hpp"
#include "time_operators/general_operator_rows.hpp"

namespace zelk::arrays {
using namespace time_operators;

namespace {

TimeOperator operator_arg(PyObject* object)
{
    const std::uint64_t code = u64_arg(object);
    if (code > static_cast<std::uint64_t>(TimeOperator::jump)) raise(PyExc_ValueError, "unknown operator");
    return static_cast<TimeOperator>(code);
}

std::span<const double> grid_arg(const FloatInput& points)
{
    if (points.values().size() < 2) raise(PyExc_ValueError, "a grid needs at least two points");
    return points.values();
}

// The fourteen arguments read, the points held for the call.
struct General {
    explicit General(PyObject* const* args)
        : op(operator_arg(args[0])),
          trial(space_basis_arg(args + 1)),
          test(space_basis_arg(args + 6)),
          points(args[11], "points"),
          shape(general_shape(op, trial, test, grid_arg(points).size() - 1, u64_arg(args[12]), u64_arg(args[13])))
    {
    }

    TimeOperator op;
    SpaceBasis trial;
    SpaceBasis test;
    FloatInput points;
    GeneralShape shape;
};

}  // namespace

PyObject* general_time_operator(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the time operator of the two spaces", [&] {
        expect_arguments("general_time_operator", nargs, 14);
        const General call(args);
        CsrResult result(call.shape.nrows, call.shape.ncols, call.shape.max_nnz);
        const std::uint64_t nnz = result.fill([&](const auto& rows) {
            return fill_general_rows(call.shape, call.trial, call.test, call.points.values(), rows);
        });
        return std::move(result).to_python(nnz);
    });
}

PyObject* general_time_operator_counts(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the counts of the time operator of the two spaces", [&] {
        expect_arguments("general_time_operator_counts", nargs, 16);
        const General call(args);
        return block_counts_result(call.shape.nrows, call.shape.ncols, call.shape.max_nnz, args[14], args[15],
                                   [&](linear_algebra::BlockCounts& counts) {
            count_general_rows(call.shape, call.trial, call.test, call.points.values(), counts);
        });
    });
}

const char general_time_operator_doc[] =
    "general_time_operator(op, trial_is_legendre, trial_degree, trial_family, trial_continuous, "
    "trial_interval_major, test_is_legendre, test_degree, test_family, test_continuous, test_interval_major, "
    "points, k_begin, k_end, /)\n--\n\nCSR arrays and shape.";

const char general_time_operator_counts_doc[] =
    "general_time_operator_counts(op, trial_is_legendre, trial_degree, trial_family, trial_continuous, "
    "trial_interval_major, test_is_legendre, test_degree, test_family, test_continuous, test_interval_major, "
    "points, k_begin, k_end, column_begin, column_end, /)\n--\n\n"
    "Entries of each row inside and outside the columns, shape and bound.";

}  // namespace zelk::arrays
