// PythonError: a Python exception carried through C++ code until the entry guard raises it.
#pragma once

#include <Python.h>

#include <source_location>
#include <string_view>

#include "call/pyref.hpp"

namespace zelk::call {

// An error value: the exception object to raise when the call returns.
class PythonError {
public:
    explicit PythonError(PyRef exception) noexcept : exception_(std::move(exception)) {}
    PyObject* exception() const noexcept { return exception_.get(); }
    PyRef take() noexcept { return std::move(exception_); }

private:
    PyRef exception_;
};

// Takes the interpreter's pending exception after a failed interpreter call:
// SystemError if none is pending; a PanicException raised by Python code that
// the module called back is reported and continues as an internal fault;
// anything else is thrown as PythonError.
[[noreturn]] void throw_fetched_error(std::source_location where = std::source_location::current());

// Throws a new exception of `type` with `message`.
[[noreturn]] void throw_error(PyObject* type, std::string_view message);

// Checks the result of an interpreter call that returns a new reference.
inline PyRef checked(PyObject* new_ref, std::source_location where = std::source_location::current())
{
    if (new_ref == nullptr) throw_fetched_error(where);
    return PyRef::steal(new_ref);
}

// The pending exception as one object (NULL if none), and the reverse.
// Not noexcept: dropping an object can run Python code, during which the
// interpreter may end the thread (thread_exit.hpp).
PyObject* take_raised_exception();
void set_raised_exception(PyRef exception);

// "'<type>' object cannot be converted to '<target>'" as a TypeError.
[[noreturn]] void throw_type_mismatch(PyObject* object, std::string_view target);

}  // namespace zelk::call
