// grid_time_mass_matrix(trial_is_legendre, trial_degree, test_is_legendre, test_degree, points, k_begin, k_end).
#include <cstdint>
#include <utility>

#include "arrays/csr_result.hpp"
#include "arrays/float_input.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/time_basis_arguments.hpp"
#include "time_operators/grid_mass_rows.hpp"

namespace zelk::arrays {
using namespace time_operators;

PyObject* grid_time_mass_matrix(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the time mass matrix on the grid", [&] {
        expect_arguments("grid_time_mass_matrix", nargs, 7);
        const LocalBasis trial = local_basis_arg(args[0], args[1]);
        const LocalBasis test = local_basis_arg(args[2], args[3]);
        const FloatInput points(args[4], "points");
        const TimeOperatorShape shape =
            grid_mass_shape(trial, test, points.values(), u64_arg(args[5]), u64_arg(args[6]));
        CsrResult result(shape.nrows, shape.ncols, shape.max_nnz);
        const std::uint64_t nnz =
            result.fill([&](const auto& rows) { return fill_grid_mass_rows(shape, points.values(), {}, rows); });
        return std::move(result).to_python(nnz);
    });
}

const char grid_time_mass_matrix_doc[] =
    "grid_time_mass_matrix(trial_is_legendre, trial_degree, test_is_legendre, test_degree, points, k_begin, "
    "k_end, /)\n--\n\nCSR arrays and shape.";

}  // namespace zelk::arrays
