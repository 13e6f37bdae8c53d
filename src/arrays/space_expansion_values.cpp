// space_expansion_values(space..., k_begin, k_end, coefficients, columns, times, left, derivative): an expansion at many times.
#include <cstdint>
#include <optional>
#include <utility>

#include "arrays/float_input.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/raw_array.hpp"
#include "arrays/space_arguments.hpp"
#include "fault/checked_size.hpp"

namespace zelk::arrays {
using namespace piecewise_polynomials;

PyObject* space_expansion_values(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the values of Expansion at times", [&] {
        expect_arguments("space_expansion_values", nargs, 16);
        SpaceArguments space(args);
        space.basis.k_begin = u64_arg(args[9]);
        space.basis.k_end = u64_arg(args[10]);
        if (space.basis.k_begin >= space.basis.k_end || space.basis.k_end > space.grid.n_t())
            raise(PyExc_ValueError, "intervals must be a non-empty range of the grid's sub-intervals");
        const FloatInput coefficients(args[11], "coefficients");
        const std::uint64_t columns = u64_arg(args[12]);
        const FloatInput times(args[13], "times");
        const Side side = side_arg(args[14]);
        const bool derivative = flag_arg(args[15]);
        RawArray out(checked_mul(times.values().size(), columns), sizeof(double));
        std::optional<TimeFault> fault;
        {
            WithoutGil released;
            space.grid.prepare_for(times.values().size());
            fault = evaluate_space_expansion(space.basis, space.grid, times.values(), side, derivative,
                                             coefficients.values(), columns, out.as<double>());
        }
        if (fault) raise_time_fault(*fault, times.values(), space, side);
        return std::move(out).to_python();
    });
}

const char space_expansion_values_doc[] =
    "space_expansion_values(kind, degree, n_t, T, points, nodes, weights, differentiation, stride, k_begin, k_end, "
    "coefficients, columns, times, left, derivative, /)\n--\n\nfloat64 buffer, row-major (times, columns).";

}  // namespace zelk::arrays
