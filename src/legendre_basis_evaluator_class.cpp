// The Python class LegendreBasisEvaluator: coefficients stored once, evaluated many times.
#include <Python.h>

#include <cstdint>
#include <vector>

#include "call/convert.hpp"
#include "call/entry.hpp"
#include "call/guard.hpp"
#include "call/instance.hpp"
#include "call/once_cell.hpp"
#include "call/result.hpp"
#include "call/signature.hpp"
#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "legendre_basis_arguments.hpp"
#include "linear_algebra/dense_matrix.hpp"
#include "module_items.hpp"
#include "piecewise_polynomials/legendre_basis.hpp"

namespace zelk {
namespace {

using namespace call;
using piecewise_polynomials::LegendreBasis;

// Invariant: dofs.size() == basis.coefficient_count() from construction on.
struct Evaluator {
    std::vector<double> dofs;
    LegendreBasis basis;
};
using Self = Instance<Evaluator>;

constexpr std::string_view class_name = "LegendreBasisEvaluator";
OnceCell type_cell;

Self& self_of(PyObject* self)
{
    return receiver<Evaluator>(self, legendre_basis_evaluator_type(), class_name);
}

PyObject* evaluator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs)
{
    return guarded([&] {
        const LegendreBasis basis = legendre_basis_arguments(class_name, args, kwargs);
        const std::uint64_t m = basis.coefficient_count();
        Evaluator value{reserved_vector<double>(m), basis};
        fill_interruptibly(value.dofs, m, 0.0);
        return new_instance(type, value);
    });
}

constexpr Signature<1> set_dofs_sig{"set_dofs", class_name, {"legendre_vals"}};

PyObject* set_dofs(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    return guarded([&] {
        const auto slots = bind(set_dofs_sig, args, nargs, kwnames);
        Self& instance = self_of(self);
        ExclusiveHold hold(instance.borrow);
        std::vector<double> values = to_float_vector(slots[0], "legendre_vals");
        check_equal(values.size(), instance.value.dofs.size(),
                    "LegendreBasisEvaluator: set_dofs: input vector has wrong length");
        instance.value.dofs.swap(values);  // the previous vector goes with `values`
        return none_result();
    });
}

template <double (LegendreBasis::*Evaluate)(double, const linear_algebra::DenseMatrixView&) const>
PyObject* evaluate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, const Signature<1>& sig)
{
    return guarded([&] {
        const auto slots = bind(sig, args, nargs, kwnames);
        Self& instance = self_of(self);
        SharedHold hold(instance.borrow);
        const double t = to_double(slots[0], "t");
        const Evaluator& value = instance.value;
        // degree + 1 can only wrap when n_t is 0, and evaluation rejects that first.
        const auto table =
            linear_algebra::DenseMatrixView::column_major(value.dofs, value.basis.n_t, value.basis.degree + 1);
        return float_result((value.basis.*Evaluate)(t, table));
    });
}

constexpr Signature<1> evaluate_at_sig{"evaluate_at", class_name, {"t"}};
constexpr Signature<1> evaluate_derivative_at_sig{"evaluate_derivative_at", class_name, {"t"}};

PyObject* evaluate_at(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    return evaluate<&LegendreBasis::evaluate>(self, args, nargs, kwnames, evaluate_at_sig);
}

PyObject* evaluate_derivative_at(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    return evaluate<&LegendreBasis::evaluate_derivative>(self, args, nargs, kwnames, evaluate_derivative_at_sig);
}

PyMethodDef methods[] = {
    {"set_dofs", as_method(set_dofs), fast_call_flags, "set_dofs($self, legendre_vals)\n--\n\n"},
    {"evaluate_at", as_method(evaluate_at), fast_call_flags, "evaluate_at($self, t)\n--\n\n"},
    {"evaluate_derivative_at", as_method(evaluate_derivative_at), fast_call_flags,
     "evaluate_derivative_at($self, t)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

ClassDefinition<Evaluator> definition(
    "builtins.LegendreBasisEvaluator",
    "LegendreBasisEvaluator(degree, n_t, T)\n--\n\n"
    "Class to evaluate legendre basis more often without copying the dofs from python each time",
    evaluator_new, methods);

}  // namespace

PyObject* legendre_basis_evaluator_type()
{
    return type_cell.get_or_init([] { return create_class(definition.type_spec(), class_name); });
}

}  // namespace zelk
