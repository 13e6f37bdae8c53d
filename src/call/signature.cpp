// Binding of positional and keyword arguments to parameter slots, with the binding messages.
#include "call/signature.hpp"

#include <cstring>

#include "call/python_error.hpp"

namespace zelk::call {
namespace {

[[noreturn]] void too_many(const SignatureView& sig, Py_ssize_t given)
{
    const std::string message = full_name(sig) + " takes " + std::to_string(sig.params.size()) +
                                " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") +
                                " given";
    throw_error(PyExc_TypeError, message);
}

[[noreturn]] void unexpected_keyword(const SignatureView& sig, PyObject* keyword)
{
    const std::string name = full_name(sig);
    PyObject* message = PyUnicode_FromFormat("%s got an unexpected keyword argument '%S'", name.c_str(), keyword);
    if (message != nullptr) {
        PyErr_SetObject(PyExc_TypeError, message);
        Py_DECREF(message);
    }
    throw_fetched_error();
}

[[noreturn]] void multiple_values(const SignatureView& sig, std::string_view param)
{
    std::string message = full_name(sig) + " got multiple values for argument '";
    message.append(param).append("'");
    throw_error(PyExc_TypeError, message);
}

[[noreturn]] void missing(const SignatureView& sig, std::span<PyObject*> slots)
{
    std::size_t count = 0;
    for (PyObject* slot : slots) count += slot == nullptr;
    std::string list;
    std::size_t listed = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (slots[i] != nullptr) continue;
        ++listed;
        if (listed > 1) {
            if (count > 2) list += ",";
            list += " ";
            if (listed == count) list += "and ";
        }
        list.append("'").append(sig.params[i]).append("'");
    }
    const std::string message = full_name(sig) + " missing " + std::to_string(count) + " required positional " +
                                (count == 1 ? "argument" : "arguments") + ": " + list;
    throw_error(PyExc_TypeError, message);
}

// Fills the slot named by `keyword`, comparing UTF-8 bytes with the parameter names.
void bind_keyword(const SignatureView& sig, std::span<PyObject*> slots, PyObject* keyword, PyObject* value)
{
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_Check(keyword) ? PyUnicode_AsUTF8AndSize(keyword, &size) : nullptr;
    if (utf8 == nullptr) {
        PyErr_Clear();  // not readable as UTF-8 text: no parameter can match
        unexpected_keyword(sig, keyword);
    }
    const std::string_view name(utf8, static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < sig.params.size(); ++i) {
        if (sig.params[i] != name) continue;
        if (slots[i] != nullptr) multiple_values(sig, sig.params[i]);
        slots[i] = value;
        return;
    }
    unexpected_keyword(sig, keyword);
}

void check_complete(const SignatureView& sig, std::span<PyObject*> slots)
{
    for (PyObject* slot : slots)
        if (slot == nullptr) missing(sig, slots);
}

}  // namespace

std::string full_name(const SignatureView& sig)
{
    std::string name;
    if (!sig.class_name.empty()) name.append(sig.class_name).append(".");
    name.append(sig.name).append("()");
    return name;
}

void bind_vector(const SignatureView& sig, std::span<PyObject*> slots, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames)
{
    if (nargs > static_cast<Py_ssize_t>(slots.size())) too_many(sig, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < nkw; ++i) bind_keyword(sig, slots, PyTuple_GET_ITEM(kwnames, i), args[nargs + i]);
    }
    check_complete(sig, slots);
}

void bind_tuple_dict(const SignatureView& sig, std::span<PyObject*> slots, PyObject* args, PyObject* kwargs)
{
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (nargs > static_cast<Py_ssize_t>(slots.size())) too_many(sig, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = PyTuple_GET_ITEM(args, i);
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) bind_keyword(sig, slots, key, value);
    }
    check_complete(sig, slots);
}

}  // namespace zelk::call
