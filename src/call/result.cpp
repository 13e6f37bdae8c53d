// New Python objects for results, failing by the result-conversion rule.
#include "call/result.hpp"

#include "fault/checked_size.hpp"
#include "fault/fault.hpp"
#include "fault/interrupt.hpp"

namespace zelk::call {
namespace {

[[noreturn]] void api_call_failed()
{
    if (PyErr_Occurred()) PyErr_Print();
    fail("Python API call failed");
}

}  // namespace

PyRef result_object(PyObject* new_ref)
{
    if (new_ref == nullptr) api_call_failed();
    return PyRef::steal(new_ref);
}

PyRef float_result(double value)
{
    return result_object(PyFloat_FromDouble(value));
}

// A list of one new object per value, made by `make`.
template <class T, class Make>
PyRef list_of(std::span<const T> values, std::uint64_t object_bytes, Make make)
{
    require_memory(values.size(), list_slot_bytes + object_bytes);
    PyRef list = result_object(PyList_New(static_cast<Py_ssize_t>(values.size())));
    // Slots not yet set are NULL, which the list's deallocation skips if a signal ends the call.
    for_each_piece(0, values.size(), [&](std::uint64_t first, std::uint64_t last) {
        for (std::uint64_t i = first; i < last; ++i) {
            PyObject* item = make(values[i]);
            if (item == nullptr) api_call_failed();
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
        }
    });
    return list;
}

PyRef float_list(std::span<const double> values)
{
    return list_of(values, float_object_bytes, PyFloat_FromDouble);
}

PyRef u64_list(std::span<const std::uint64_t> values)
{
    return list_of(values, int_object_bytes, PyLong_FromUnsignedLongLong);
}

PyRef str_result(std::string_view text)
{
    return result_object(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

PyRef none_result() noexcept
{
    return PyRef::borrow(Py_None);
}

PyRef tuple_result(PyRef a, PyRef b, PyRef c)
{
    PyRef tuple = result_object(PyTuple_New(3));
    PyTuple_SET_ITEM(tuple.get(), 0, a.release());
    PyTuple_SET_ITEM(tuple.get(), 1, b.release());
    PyTuple_SET_ITEM(tuple.get(), 2, c.release());
    return tuple;
}

}  // namespace zelk::call
