// time_operator_counts(op, trial_is_legendre, trial_degree, test_is_legendre, test_degree, n_t, T, k_begin, k_end,
// column_begin, column_end): the entries of the mass, derivative or jump rows inside and outside a column block.
#include <cstdint>

#include "arrays/block_counts_result.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/time_operator_front.hpp"

namespace zelk::arrays {
using namespace time_operators;

PyObject* time_operator_counts(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the counts of the time operator(trial, test)", [&] {
        expect_arguments("time_operator_counts", nargs, 11);
        const std::uint64_t code = u64_arg(args[0]);
        if (code > static_cast<std::uint64_t>(TimeOperator::jump)) raise(PyExc_ValueError, "unknown operator");
        const TimeOperatorShape shape = time_operator_arguments(static_cast<TimeOperator>(code), args + 1);
        return block_counts_result(shape.nrows, shape.ncols, shape.max_nnz, args[9], args[10],
                                   [&](linear_algebra::BlockCounts& counts) {
            count_time_operator_rows(shape, counts);
        });
    });
}

const char time_operator_counts_doc[] =
    "time_operator_counts(op, trial_is_legendre, trial_degree, test_is_legendre, test_degree, n_t, T, k_begin, "
    "k_end, column_begin, column_end, /)\n--\n\nEntries of each row inside and outside the columns, shape and bound.";

}  // namespace zelk::arrays
