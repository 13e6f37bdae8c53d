// weighted_time_mass_matrix(trial, test, weight: each (is_legendre, degree, family, continuous, interval_major),
// coefficients, points, step, k_begin, k_end): the mass matrix of integrals of w u_j v_i on a grid of points.
#include <cstdint>
#include <utility>

#include "arrays/csr_result.hpp"
#include "arrays/float_input.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/time_basis_arguments.hpp"
#include "time_operators/weighted_mass_rows.hpp"

namespace zelk::arrays {
using namespace time_operators;

PyObject* weighted_time_mass_matrix(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the weighted time mass matrix of the two spaces", [&] {
        expect_arguments("weighted_time_mass_matrix", nargs, 20);
        const SpaceBasis trial = space_basis_arg(args);
        const SpaceBasis test = space_basis_arg(args + 5);
        const SpaceBasis weight_space = space_basis_arg(args + 10);
        const FloatInput coefficients(args[15], "coefficients");
        const FloatInput points(args[16], "points");
        const double step = float_arg(args[17]);
        if (points.values().size() < 2) raise(PyExc_ValueError, "a grid needs at least two points");
        const GeneralShape shape = general_shape(TimeOperator::mass, trial, test, points.values().size() - 1,
                                                 u64_arg(args[18]), u64_arg(args[19]));
        const Weight weight{weight_space, coefficients.values()};
        CsrResult result(shape.nrows, shape.ncols, shape.max_nnz);
        const std::uint64_t nnz = result.fill([&](const auto& rows) {
            return fill_weighted_mass_rows(shape, trial, test, weight, points.values(), step, rows);
        });
        return std::move(result).to_python(nnz);
    });
}

const char weighted_time_mass_matrix_doc[] =
    "weighted_time_mass_matrix(trial_is_legendre, trial_degree, trial_family, trial_continuous, "
    "trial_interval_major, test_is_legendre, test_degree, test_family, test_continuous, test_interval_major, "
    "weight_is_legendre, weight_degree, weight_family, weight_continuous, weight_interval_major, coefficients, "
    "points, step, k_begin, k_end, /)\n--\n\nCSR arrays and shape.";

}  // namespace zelk::arrays
