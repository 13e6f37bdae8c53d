// The Python class LegendreBasis: evaluation of expansions whose coefficients come with every call.
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
#include "legendre_basis_arguments.hpp"
#include "linear_algebra/dense_matrix.hpp"
#include "module_items.hpp"
#include "piecewise_polynomials/legendre_basis.hpp"

namespace zelk {
namespace {

using namespace call;
using piecewise_polynomials::LegendreBasis;
using Self = Instance<LegendreBasis>;

constexpr std::string_view class_name = "LegendreBasis";
OnceCell type_cell;

Self& self_of(PyObject* self)
{
    return receiver<LegendreBasis>(self, legendre_basis_type(), class_name);
}

PyObject* legendre_basis_new(PyTypeObject* type, PyObject* args, PyObject* kwargs)
{
    return guarded([&] {
        LegendreBasis value = legendre_basis_arguments(class_name, args, kwargs);
        return new_instance(type, value);
    });
}

constexpr Signature<2> evaluate_at_sig{"evaluate_at", class_name, {"t", "legendre_vals"}};

PyObject* evaluate_at(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    return guarded([&] {
        const auto slots = bind(evaluate_at_sig, args, nargs, kwnames);
        Self& instance = self_of(self);
        SharedHold hold(instance.borrow);
        const LegendreBasis& basis = instance.value;
        const double t = to_double(slots[0], "t");
        ShortFloats values;
        to_short_floats(slots[1], "legendre_vals", values);
        basis.coefficient_count();  // a count beyond 64 bits is a capacity overflow before anything else
        // degree + 1 can only wrap when n_t is 0, and evaluation rejects that first.
        const auto table = linear_algebra::DenseMatrixView::column_major(values.values(), basis.n_t, basis.degree + 1);
        return float_result(basis.evaluate(t, table));
    });
}

template <std::vector<double> (LegendreBasis::*Evaluate)(double) const>
PyObject* evaluate_all(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                       const Signature<1>& sig)
{
    return guarded([&] {
        const auto slots = bind(sig, args, nargs, kwnames);
        Self& instance = self_of(self);
        SharedHold hold(instance.borrow);
        const double t = to_double(slots[0], "t");
        // The basis vector and the list of floats made from it must fit together.
        require_memory(instance.value.coefficient_count(), sizeof(double) + list_slot_bytes + float_object_bytes);
        return float_list((instance.value.*Evaluate)(t));
    });
}

constexpr Signature<1> all_functions_sig{"evaluate_all_basis_functions", class_name, {"t"}};
constexpr Signature<1> all_derivatives_sig{"evaluate_all_basis_function_derivatives", class_name, {"t"}};

PyObject* evaluate_all_basis_functions(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    return evaluate_all<&LegendreBasis::evaluate_all_basis_functions>(self, args, nargs, kwnames, all_functions_sig);
}

PyObject* evaluate_all_basis_function_derivatives(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                                  PyObject* kwnames)
{
    return evaluate_all<&LegendreBasis::evaluate_all_basis_function_derivatives>(self, args, nargs, kwnames,
                                                                                 all_derivatives_sig);
}

PyMethodDef methods[] = {
    {"evaluate_at", as_method(evaluate_at), fast_call_flags, "evaluate_at($self, t, legendre_vals)\n--\n\n"},
    {"evaluate_all_basis_functions", as_method(evaluate_all_basis_functions), fast_call_flags,
     "evaluate_all_basis_functions($self, t)\n--\n\n"},
    {"evaluate_all_basis_function_derivatives", as_method(evaluate_all_basis_function_derivatives), fast_call_flags,
     "evaluate_all_basis_function_derivatives($self, t)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

ClassDefinition<LegendreBasis> definition("builtins.LegendreBasis", "LegendreBasis(degree, n_t, T)\n--\n\n",
                                          legendre_basis_new, methods);

}  // namespace

PyObject* legendre_basis_type()
{
    return type_cell.get_or_init([] { return create_class(definition.type_spec(), class_name); });
}

}  // namespace zelk
