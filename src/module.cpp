// PyInit_zelk: the interpreter check, the once-per-process module object and its registration.
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "call/guard.hpp"
#include "call/once_cell.hpp"
#include "call/python_error.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"
#include "module_items.hpp"

namespace zelk {
namespace {

using call::checked;
using call::PyRef;

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "zelk",
    .m_doc = "Piecewise Legendre and Lagrange building blocks for the discretisation of a time interval.",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

// The interpreter that first imported the module; -1 until then, never cleared.
std::atomic<std::int64_t> owner_interpreter{-1};
call::OnceCell module_cell;
call::OnceCell all_name;
call::OnceCell name_name;

PyObject* interned(call::OnceCell& cell, const char* text)
{
    return cell.get_or_init([text] { return checked(PyUnicode_InternFromString(text)).release(); });
}

void add_to_module(PyObject* module, PyObject* name, PyObject* value)
{
    PyObject* all_key = interned(all_name, "__all__");
    PyRef all = PyRef::steal(PyObject_GetAttr(module, all_key));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) call::throw_fetched_error();
        PyErr_Clear();
        all = checked(PyList_New(0));
        if (PyObject_SetAttr(module, all_key, all.get()) < 0) call::throw_fetched_error();
    } else if (!PyList_Check(all.get())) {
        call::throw_type_mismatch(all.get(), "list");
    }
    if (PyList_Append(all.get(), name) < 0) {
        PyErr_Clear();
        fail("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module, name, value) < 0) call::throw_fetched_error();
}

void add_function(PyObject* module, PyMethodDef* def)
{
    PyRef module_name = checked(PyModule_GetNameObject(module));
    PyRef function = checked(PyCMethod_New(def, module, module_name.get(), nullptr));
    PyRef name = checked(PyObject_GetAttr(function.get(), interned(name_name, "__name__")));
    if (!PyUnicode_Check(name.get())) call::throw_type_mismatch(name.get(), "str");
    add_to_module(module, name.get(), function.get());
}

void add_class(PyObject* module, const char* name, PyObject* (*type)())
{
    PyObject* cls = type();
    PyRef key = checked(PyUnicode_FromString(name));
    add_to_module(module, key.get(), cls);
}

// Lets Ctrl-C (and any other signal handler that raises) stop long core loops.
void check_python_signals()
{
    if (PyErr_CheckSignals() < 0) call::throw_fetched_error();
}

PyObject* make_module()
{
    PyRef module = checked(PyModule_Create2(&module_def, 1013));
#ifdef Py_GIL_DISABLED
    if (PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_USED) < 0) call::throw_fetched_error();
#endif
    add_function(module.get(), &sum_as_string_def);
    add_function(module.get(), &lagrange_to_legendre_basis_transformation_def);
    add_function(module.get(), &lagrange_prolongation_matrix_def);
    add_function(module.get(), &get_lagrange_points_def);
    add_class(module.get(), "LegendreBasis", legendre_basis_type);
    add_class(module.get(), "LegendreBasisEvaluator", legendre_basis_evaluator_type);
    set_interrupt_check(check_python_signals);
    // Made now, not at its first use, which may come at the recursion limit where no type can be made.
    call::panic_exception_type();
    return module.release();
}

PyRef init_module()
{
    const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current == -1) call::throw_fetched_error();
    std::int64_t expected = -1;
    if (!owner_interpreter.compare_exchange_strong(expected, current) && expected != current) {
        call::throw_error(PyExc_ImportError,
                          "zelk does not support sub-interpreters: it can only be imported in the interpreter "
                          "that imported it first");
    }
    return PyRef::borrow(module_cell.get_or_init(make_module));
}

}  // namespace
}  // namespace zelk

PyMODINIT_FUNC PyInit_zelk(void)
{
    return zelk::call::guarded(zelk::init_module);
}
