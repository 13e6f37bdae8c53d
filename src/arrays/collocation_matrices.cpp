// collocation_matrices(n, rule): nodes, weights, Q and S of the rule on [0, 1], four float64 buffers.
#include <cstdint>
#include <utility>

#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/raw_array.hpp"
#include "fault/checked_size.hpp"
#include "time_operators/collocation.hpp"

namespace zelk::arrays {
using namespace time_operators;

PyObject* collocation_matrices(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the nodes, weights, Q and S of collocation_matrices(n_nodes)", [&] {
        expect_arguments("collocation_matrices", nargs, 2);
        const std::uint64_t n = u64_arg(args[0]);
        const std::uint64_t code = u64_arg(args[1]);
        if (code > static_cast<std::uint64_t>(QuadratureRule::lobatto)) raise(PyExc_ValueError, "unknown rule");
        const std::uint64_t square = checked_mul(n, n);
        require_memory(checked_length<double>(square), 2 * sizeof(double));
        RawArray nodes(n, sizeof(double));
        RawArray weights(n, sizeof(double));
        RawArray q(square, sizeof(double));
        RawArray s(square, sizeof(double));
        {
            WithoutGil released;
            const ReferenceRule rule = reference_rule(static_cast<QuadratureRule>(code), n);
            fill_collocation(rule, nodes.as<double>(), weights.as<double>(), q.as<double>(), s.as<double>());
        }
        PyRef a = std::move(nodes).to_python();
        PyRef b = std::move(weights).to_python();
        PyRef c = std::move(q).to_python();
        PyRef d = std::move(s).to_python();
        return checked(Py_BuildValue("(NNNN)", a.release(), b.release(), c.release(), d.release()));
    });
}

const char collocation_matrices_doc[] =
    "collocation_matrices(n, rule, /)\n--\n\n(nodes, weights, Q, S) buffers, Q and S row-major.";

}  // namespace zelk::arrays
