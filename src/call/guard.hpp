// The entry guard: the one place where C++ exceptions become Python exceptions.
#pragma once

#include <Python.h>

#include <exception>
#include <new>
#include <source_location>

#include "call/panic.hpp"
#include "call/python_error.hpp"
#include "call/thread_exit.hpp"
#include "fault/fault.hpp"

namespace zelk::call {

// Sets the Python exception for the exception in flight; call only from a catch block.
void raise_current_exception();

// Runs an entry point's body, which returns a new reference or throws.
// Error values are raised as they are, internal faults as PanicException,
// std::bad_alloc as MemoryError; the result is then NULL. The unwinding of a
// thread that the interpreter ends passes through untouched (thread_exit.hpp),
// which is why neither guard is noexcept.
template <class Body>
PyObject* guarded(Body&& body)
{
    return catch_all_but_thread_exit<PythonError>([&] { return body().release(); }, []() -> PyObject* {
        raise_current_exception();
        return nullptr;
    });
}

// For destructors: an exception is reported as unraisable, never raised.
template <class Body>
void guarded_unraisable(PyObject* object, Body&& body)
{
    catch_all_but_thread_exit<PythonError>(body, [object] {
        raise_current_exception();
        PyErr_WriteUnraisable(object);
    });
}

}  // namespace zelk::call
