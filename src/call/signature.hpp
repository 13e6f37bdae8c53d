// Static parameter records and the binder that fills argument slots from a call.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace zelk::call {

// All parameters of this module are required and positional-or-keyword.
template <std::size_t N>
struct Signature {
    std::string_view name;        // "__new__" for constructors
    std::string_view class_name;  // empty for module functions
    std::array<std::string_view, N> params;
};

// Borrowed references, one per parameter, all filled after a successful bind.
template <std::size_t N>
using Slots = std::array<PyObject*, N>;

struct SignatureView {
    std::string_view name;
    std::string_view class_name;
    std::span<const std::string_view> params;
};

// "f()" for a module function, "Class.f()" for a method or constructor.
std::string full_name(const SignatureView& sig);

// The fast calling convention: positional args, then keyword values named by kwnames.
void bind_vector(const SignatureView& sig, std::span<PyObject*> slots, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames);
// The constructor convention: a tuple and a dict (or NULL), taken in the dict's order.
void bind_tuple_dict(const SignatureView& sig, std::span<PyObject*> slots, PyObject* args, PyObject* kwargs);

template <std::size_t N>
Slots<N> bind(const Signature<N>& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    Slots<N> slots{};
    if (kwnames == nullptr && nargs == static_cast<Py_ssize_t>(N)) {  // the common all-positional call
        for (std::size_t i = 0; i < N; ++i) slots[i] = args[i];
        return slots;
    }
    bind_vector({sig.name, sig.class_name, sig.params}, slots, args, nargs, kwnames);
    return slots;
}

template <std::size_t N>
Slots<N> bind(const Signature<N>& sig, PyObject* args, PyObject* kwargs)
{
    Slots<N> slots{};
    bind_tuple_dict({sig.name, sig.class_name, sig.params}, slots, args, kwargs);
    return slots;
}

}  // namespace zelk::call
