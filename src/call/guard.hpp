// The entry guard: the one place where C++ exceptions become Python exceptions.
#pragma once

#include <Python.h>

#include <exception>
#include <new>
#include <source_location>

#include "call/panic.hpp"
#include "call/python_error.hpp"
#include "fault/fault.hpp"

namespace zelk::call {

// Sets the Python exception for the exception in flight; call only from a catch block.
void raise_current_exception() noexcept;

// Runs an entry point's body, which returns a new reference or throws.
// Error values are raised as they are, internal faults as PanicException,
// std::bad_alloc as MemoryError; the result is then NULL.
template <class Body>
PyObject* guarded(Body&& body) noexcept
{
    try {
        return body().release();
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

// For destructors: an exception is reported as unraisable, never raised.
template <class Body>
void guarded_unraisable(PyObject* object, Body&& body) noexcept
{
    try {
        body();
    } catch (...) {
        raise_current_exception();
        PyErr_WriteUnraisable(object);
    }
}

}  // namespace zelk::call
