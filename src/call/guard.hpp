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
    try {
        return body().release();
    }
#if defined(ZELK_FORCED_UNWIND)
    catch (ZELK_FORCED_UNWIND&) {
        throw;
    }
#endif
#if defined(ZELK_FOREIGN_UNWIND_CHECK)
    // libc++abi cannot rethrow a forced unwind once a handler has caught it:
    // only C++ types are caught, so that it passes as through a cleanup.
    catch (PythonError&) {
        raise_current_exception();
        return nullptr;
    }
    catch (std::exception&) {
        raise_current_exception();
        return nullptr;
    }
#else
    catch (...) {
        raise_current_exception();
        return nullptr;
    }
#endif
}

// For destructors: an exception is reported as unraisable, never raised.
template <class Body>
void guarded_unraisable(PyObject* object, Body&& body)
{
    try {
        body();
    }
#if defined(ZELK_FORCED_UNWIND)
    catch (ZELK_FORCED_UNWIND&) {
        throw;
    }
#endif
#if defined(ZELK_FOREIGN_UNWIND_CHECK)
    catch (PythonError&) {
        raise_current_exception();
        PyErr_WriteUnraisable(object);
    }
    catch (std::exception&) {
        raise_current_exception();
        PyErr_WriteUnraisable(object);
    }
#else
    catch (...) {
        raise_current_exception();
        PyErr_WriteUnraisable(object);
    }
#endif
}

}  // namespace zelk::call
