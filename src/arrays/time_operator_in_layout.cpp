// time_operator_in_layout(op, trial_is_legendre, trial_degree, trial_interval_major, test_is_legendre, test_degree,
// test_interval_major, points, n_t, T, k_begin, k_end): a time operator with interval-major Legendre spaces.
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "arrays/csr_result.hpp"
#include "arrays/float_input.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/time_basis_arguments.hpp"
#include "time_operators/grid_mass_rows.hpp"
#include "time_operators/interval_major_rows.hpp"

namespace zelk::arrays {
using namespace time_operators;

PyObject* time_operator_in_layout(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the time operator in the interval-major layout", [&] {
        expect_arguments("time_operator_in_layout", nargs, 12);
        const std::uint64_t code = u64_arg(args[0]);
        if (code > static_cast<std::uint64_t>(TimeOperator::jump)) raise(PyExc_ValueError, "unknown operator");
        const auto op = static_cast<TimeOperator>(code);
        const LocalBasis trial = local_basis_arg(args[1], args[2]);
        const IntervalMajor layout{flag_arg(args[3]), flag_arg(args[6])};
        const LocalBasis test = local_basis_arg(args[4], args[5]);
        std::optional<FloatInput> points;
        if (args[7] != Py_None) points.emplace(args[7], "points");
        const std::span<const double> grid = points ? points->values() : std::span<const double>{};
        const std::uint64_t k_begin = u64_arg(args[10]);
        const std::uint64_t k_end = u64_arg(args[11]);
        const TimeOperatorShape shape =
            points ? grid_mass_shape(trial, test, grid, k_begin, k_end)
                   : time_operator_shape(op, trial, test, u64_arg(args[8]), float_arg(args[9]), k_begin, k_end);
        if (points && op != TimeOperator::mass) raise(PyExc_ValueError, "only the mass matrix takes grid points");
        CsrResult result(shape.nrows, shape.ncols, shape.max_nnz);
        const std::uint64_t nnz =
            result.fill([&](const auto& rows) { return fill_interval_major_rows(shape, grid, layout, rows); });
        return std::move(result).to_python(nnz);
    });
}

const char time_operator_in_layout_doc[] =
    "time_operator_in_layout(op, trial_is_legendre, trial_degree, trial_interval_major, test_is_legendre, "
    "test_degree, test_interval_major, points, n_t, T, k_begin, k_end, /)\n--\n\nCSR arrays and shape.";

}  // namespace zelk::arrays
