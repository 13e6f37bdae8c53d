// grid_time_mass_matrix(trial_is_legendre, trial_degree, test_is_legendre, test_degree, points, k_begin, k_end);
// grid_time_mass_matrix_counts: the same arguments and a column block, its rows' entries counted in and out.
#include <cstdint>
#include <utility>

#include "arrays/block_counts_result.hpp"
#include "arrays/csr_result.hpp"
#include "arrays/float_input.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/time_basis_arguments.hpp"
#include "time_operators/grid_mass_rows.hpp"

namespace zelk::arrays {
using namespace time_operators;

namespace {

// The seven arguments read, the points held for the call.
struct GridMass {
    explicit GridMass(PyObject* const* args)
        : trial(local_basis_arg(args[0], args[1])),
          test(local_basis_arg(args[2], args[3])),
          points(args[4], "points"),
          shape(grid_mass_shape(trial, test, points.values(), u64_arg(args[5]), u64_arg(args[6])))
    {
    }

    LocalBasis trial;
    LocalBasis test;
    FloatInput points;
    TimeOperatorShape shape;
};

}  // namespace

PyObject* grid_time_mass_matrix(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the time mass matrix on the grid", [&] {
        expect_arguments("grid_time_mass_matrix", nargs, 7);
        const GridMass call(args);
        CsrResult result(call.shape.nrows, call.shape.ncols, call.shape.max_nnz);
        const std::uint64_t nnz = result.fill([&](const auto& rows) {
            return fill_grid_mass_rows(call.shape, call.points.values(), {}, rows);
        });
        return std::move(result).to_python(nnz);
    });
}

PyObject* grid_time_mass_matrix_counts(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the counts of the time mass matrix on the grid", [&] {
        expect_arguments("grid_time_mass_matrix_counts", nargs, 9);
        const GridMass call(args);
        // The fill keeps the uniform pattern whatever the steps (an entry that underflows is kept as 0.0):
        // the rows of call.shape, the uniform rows of unit steps, count it.
        return block_counts_result(call.shape.nrows, call.shape.ncols, call.shape.max_nnz, args[7], args[8],
                                   [&](linear_algebra::BlockCounts& counts) {
            count_time_operator_rows(call.shape, counts);
        });
    });
}

const char grid_time_mass_matrix_doc[] =
    "grid_time_mass_matrix(trial_is_legendre, trial_degree, test_is_legendre, test_degree, points, k_begin, "
    "k_end, /)\n--\n\nCSR arrays and shape.";

const char grid_time_mass_matrix_counts_doc[] =
    "grid_time_mass_matrix_counts(trial_is_legendre, trial_degree, test_is_legendre, test_degree, points, k_begin, "
    "k_end, column_begin, column_end, /)\n--\n\nEntries of each row inside and outside the columns, shape and bound.";

}  // namespace zelk::arrays
