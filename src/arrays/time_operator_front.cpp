// time_operator_matrix: one argument parser and one CSR fill for the mass, derivative and jump entry points.
#include "arrays/time_operator_front.hpp"

#include <cstdint>
#include <string>
#include <utility>

#include "arrays/csr_result.hpp"
#include "arrays/frame.hpp"
#include "arrays/time_basis_arguments.hpp"

namespace zelk::arrays {
using namespace time_operators;

TimeOperatorShape time_operator_arguments(TimeOperator op, PyObject* const* args)
{
    const LocalBasis trial = local_basis_arg(args[0], args[1]);
    const LocalBasis test = local_basis_arg(args[2], args[3]);
    const std::uint64_t n_t = u64_arg(args[4]);
    const double T = float_arg(args[5]);
    const std::uint64_t k_begin = u64_arg(args[6]);
    const std::uint64_t k_end = u64_arg(args[7]);
    // The local blocks take time growing with the degrees: computed without the GIL.
    WithoutGil released;
    return time_operator_shape(op, trial, test, n_t, T, k_begin, k_end);
}

PyObject* time_operator_matrix(TimeOperator op, const char* name, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded(std::string("the matrix of ") + name + "(trial, test)", [&] {
        expect_arguments(name, nargs, 8);
        const TimeOperatorShape shape = time_operator_arguments(op, args);
        CsrResult result(shape.nrows, shape.ncols, shape.max_nnz);
        const std::uint64_t nnz = result.fill([&](const auto& rows) { return fill_time_operator_rows(shape, rows); });
        return std::move(result).to_python(nnz);
    });
}

}  // namespace zelk::arrays
