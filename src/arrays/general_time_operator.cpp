// general_time_operator(op, trial: (is_legendre, degree, family, continuous, interval_major), test: the same,
// points, k_begin, k_end): a time operator of any two spaces on a grid of points.
#include <cstdint>
#include <utility>

#include "arrays/csr_result.hpp"
#include "arrays/float_input.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/time_basis_arguments.hpp"
#include "time_operators/general_operator_rows.hpp"

namespace zelk::arrays {
using namespace time_operators;

PyObject* general_time_operator(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the time operator of the two spaces", [&] {
        expect_arguments("general_time_operator", nargs, 14);
        const std::uint64_t code = u64_arg(args[0]);
        if (code > static_cast<std::uint64_t>(TimeOperator::jump)) raise(PyExc_ValueError, "unknown operator");
        const SpaceBasis trial = space_basis_arg(args + 1);
        const SpaceBasis test = space_basis_arg(args + 6);
        const FloatInput points(args[11], "points");
        if (points.values().size() < 2) raise(PyExc_ValueError, "a grid needs at least two points");
        const GeneralShape shape = general_shape(static_cast<TimeOperator>(code), trial, test,
                                                 points.values().size() - 1, u64_arg(args[12]), u64_arg(args[13]));
        CsrResult result(shape.nrows, shape.ncols, shape.max_nnz);
        const std::uint64_t nnz =
            result.fill([&](const auto& rows) { return fill_general_rows(shape, trial, test, points.values(), rows); });
        return std::move(result).to_python(nnz);
    });
}

const char general_time_operator_doc[] =
    "general_time_operator(op, trial_is_legendre, trial_degree, trial_family, trial_continuous, "
    "trial_interval_major, test_is_legendre, test_degree, test_family, test_continuous, test_interval_major, "
    "points, k_begin, k_end, /)\n--\n\nCSR arrays and shape.";

}  // namespace zelk::arrays
