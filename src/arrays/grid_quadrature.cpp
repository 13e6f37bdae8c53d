// grid_quadrature(n_points, points, rule): the rule's times and weights on every sub-interval of a grid.
#include <cstdint>
#include <utility>

#include "arrays/float_input.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/raw_array.hpp"
#include "fault/checked_size.hpp"
#include "time_operators/grid_quadrature.hpp"

namespace zelk::arrays {
using namespace time_operators;

PyObject* grid_quadrature(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the times and weights of time_quadrature(n_points, grid)", [&] {
        expect_arguments("grid_quadrature", nargs, 3);
        const std::uint64_t n = u64_arg(args[0]);
        const FloatInput points(args[1], "points");
        const std::uint64_t code = u64_arg(args[2]);
        if (code > static_cast<std::uint64_t>(QuadratureRule::lobatto)) raise(PyExc_ValueError, "unknown rule");
        if (points.values().size() < 2) raise(PyExc_ValueError, "a grid needs at least two points");
        const std::uint64_t count = checked_mul(points.values().size() - 1, n);
        require_memory(checked_length<double>(count), 2 * sizeof(double));
        RawArray times(count, sizeof(double));
        RawArray weights(count, sizeof(double));
        {
            WithoutGil released;
            const ReferenceRule rule = reference_rule(static_cast<QuadratureRule>(code), n);
            fill_grid_quadrature(rule, points.values(), times.as<double>(), weights.as<double>());
        }
        PyRef t = std::move(times).to_python();
        PyRef w = std::move(weights).to_python();
        return checked(Py_BuildValue("(NN)", t.release(), w.release()));
    });
}

const char grid_quadrature_doc[] = "grid_quadrature(n_points, points, rule, /)\n--\n\n(times, weights) buffers.";

}  // namespace zelk::arrays
