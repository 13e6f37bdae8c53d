// load_contraction(weights, values, columns, basis, n): each sub-interval's quadrature sums against the local basis.
#include <cstdint>
#include <utility>

#include "arrays/float_input.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/raw_array.hpp"
#include "fault/checked_size.hpp"
#include "time_operators/load_contraction.hpp"

namespace zelk::arrays {
using namespace time_operators;

PyObject* load_contraction(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the load vector", [&] {
        expect_arguments("load_contraction", nargs, 5);
        const FloatInput weights(args[0], "weights");
        const FloatInput values(args[1], "values");
        const std::uint64_t columns = u64_arg(args[2]);
        const FloatInput basis(args[3], "basis");
        const std::uint64_t n = u64_arg(args[4]);
        if (n == 0 || columns == 0 || basis.values().size() % n != 0 ||
            values.values().size() % checked_mul(n, columns) != 0)
            raise(PyExc_ValueError, "values and basis do not match n and columns");
        const std::uint64_t intervals = values.values().size() / checked_mul(n, columns);
        const std::uint64_t count = checked_mul(checked_mul(intervals, basis.values().size() / n), columns);
        require_memory(checked_length<double>(count), sizeof(double));
        RawArray local(count, sizeof(double));
        {
            WithoutGil released;
            contract_load(weights.values(), values.values(), columns, basis.values(), n, local.as<double>());
        }
        return std::move(local).to_python();
    });
}

const char load_contraction_doc[] =
    "load_contraction(weights, values, columns, basis, n, /)\n--\n\nThe local sums, a float64 buffer.";

}  // namespace zelk::arrays
