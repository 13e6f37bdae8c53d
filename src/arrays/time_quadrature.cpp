// time_quadrature(n_points, n_t, T, rule): the rule's times and weights on every sub-interval, two float64 buffers.
#include <cstdint>
#include <utility>

#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/raw_array.hpp"
#include "fault/checked_size.hpp"
#include "time_operators/quadrature_rules.hpp"

namespace zelk::arrays {
using namespace time_operators;

PyObject* time_quadrature(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the times and weights of time_quadrature(n_points, n_t)", [&] {
        expect_arguments("time_quadrature", nargs, 4);
        const std::uint64_t n = u64_arg(args[0]);
        const std::uint64_t n_t = u64_arg(args[1]);
        const double T = float_arg(args[2]);
        const std::uint64_t code = u64_arg(args[3]);
        if (code > static_cast<std::uint64_t>(QuadratureRule::lobatto)) raise(PyExc_ValueError, "unknown rule");
        const std::uint64_t count = checked_mul(n_t, n);
        require_memory(checked_length<double>(count), 2 * sizeof(double));
        RawArray times(count, sizeof(double));
        RawArray weights(count, sizeof(double));
        {
            WithoutGil released;
            const ReferenceRule rule = reference_rule(static_cast<QuadratureRule>(code), n);
            fill_time_quadrature(rule, n_t, T, times.as<double>(), weights.as<double>());
        }
        PyRef t = std::move(times).to_python();
        PyRef w = std::move(weights).to_python();
        return checked(Py_BuildValue("(NN)", t.release(), w.release()));
    });
}

const char time_quadrature_doc[] = "time_quadrature(n_points, n_t, T, rule, /)\n--\n\n(times, weights) buffers.";

}  // namespace zelk::arrays
