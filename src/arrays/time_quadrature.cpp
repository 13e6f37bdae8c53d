// time_quadrature(n_points, n_t, T, rule[, k_begin, k_end, weights_once]): the rule's times and weights on every sub-interval
// (or on those of a range), two float64 buffers; with weights_once, the weights of one sub-interval.
#include <cstdint>
#include <utility>

#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/raw_array.hpp"
#include "fault/checked_size.hpp"
#include "time_operators/quadrature_copies.hpp"
#include "time_operators/quadrature_rules.hpp"

namespace zelk::arrays {
using namespace time_operators;

PyObject* time_quadrature(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the times and weights of time_quadrature(n_points, n_t)", [&] {
        if (nargs < 4 || nargs > 7) expect_arguments("time_quadrature", nargs, 7);
        const std::uint64_t n = u64_arg(args[0]);
        const std::uint64_t n_t = u64_arg(args[1]);
        const double T = float_arg(args[2]);
        const std::uint64_t code = u64_arg(args[3]);
        if (code > static_cast<std::uint64_t>(QuadratureRule::lobatto)) raise(PyExc_ValueError, "unknown rule");
        const std::uint64_t k_begin = nargs >= 5 ? u64_arg(args[4]) : 0;
        const std::uint64_t k_end = nargs >= 6 && args[5] != Py_None ? u64_arg(args[5]) : n_t;
        // Weights once: the n that every sub-interval of the uniform grid shares.
        const bool once = nargs == 7 && flag_arg(args[6]);
        if (!(k_begin <= k_end && k_end <= n_t)) raise(PyExc_ValueError, "interval range out of bounds");
        const std::uint64_t count = checked_mul(k_end - k_begin, n);
        require_memory(checked_length<double>(count), once ? sizeof(double) : 2 * sizeof(double));
        RawArray times(count, sizeof(double));
        RawArray weights(once ? n : count, sizeof(double));
        {
            WithoutGil released;
            const ReferenceRule rule = reference_rule(static_cast<QuadratureRule>(code), n);
            if (once) {
                fill_time_quadrature_times(rule, n_t, T, k_begin, k_end, times.as<double>(), weights.as<double>());
            } else {
                fill_time_quadrature_range(rule, n_t, T, k_begin, k_end, times.as<double>(), weights.as<double>());
            }
        }
        PyRef t = std::move(times).to_python();
        PyRef w = std::move(weights).to_python();
        return checked(Py_BuildValue("(NN)", t.release(), w.release()));
    });
}

const char time_quadrature_doc[] =
    "time_quadrature(n_points, n_t, T, rule, k_begin=0, k_end=None, weights_once=False, /)\n--\n\n(times, weights) "
    "buffers.";

}  // namespace zelk::arrays
