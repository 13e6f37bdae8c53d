// The calling frame of zelk_arrays: arguments, errors in the ecosystem's idiom, the entry guard, work without the GIL.
#pragma once

#include <Python.h>

#include <cstdint>
#include <exception>
#include <new>
#include <string_view>

#include "call/pyref.hpp"
#include "call/thread_exit.hpp"
#include "fault/fault.hpp"

namespace zelk::arrays {

using call::PyRef;

// Thrown once the interpreter's error indicator holds the exception to raise.
struct ErrorSet {};

[[noreturn]] void raise(PyObject* type, std::string_view message);

// Throws ErrorSet if an interpreter call failed (returned NULL); else owns the result.
PyRef checked(PyObject* new_ref);

// Sets the Python exception for the exception in flight; nothing goes to
// stderr. "capacity overflow" becomes OverflowError, any other core fault
// (an invalid request) ValueError, std::bad_alloc MemoryError. `result`
// names what the call builds and the arguments that size it, as in "the
// points of get_lagrange_points(degree, n_t)": the size errors say it, with
// the bytes requested where they are known.
void raise_current_exception(std::string_view result) noexcept;

// The unwinding of a thread that the interpreter ends (at shutdown, while it
// takes the GIL back) passes through untouched, as in zelk's guard; hence
// not noexcept.
template <class Body>
PyObject* guarded(std::string_view result, Body&& body)
{
    return call::catch_all_but_thread_exit<ErrorSet>([&] { return body().release(); }, [&]() -> PyObject* {
        raise_current_exception(result);
        return nullptr;
    });
}

// Releases the GIL for the life of the scope, so other threads run while the
// core works on storage this call holds. The core's interrupt check, which
// this module installs, takes the GIL back about every 50 ms to run the
// signal handlers; a handler that raises (Ctrl-C) ends the work with ErrorSet.
class WithoutGil {
public:
    WithoutGil() noexcept;
    WithoutGil(const WithoutGil&) = delete;
    WithoutGil& operator=(const WithoutGil&) = delete;
    // Taking the GIL back can end the thread (interpreter shutdown) by unwinding it.
    ~WithoutGil() noexcept(false);

private:
    friend void check_signals();
    PyThreadState* state_;
    WithoutGil* outer_;
};

// The core's interrupt check: runs the signal handlers at most every 50 ms.
void check_signals();

// Raises TypeError unless the call has exactly `count` positional arguments.
void expect_arguments(const char* function, Py_ssize_t nargs, Py_ssize_t count);

// A positional-only fast-call entry point as the method table stores it.
using FastCall = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t);
inline PyCFunction as_method(FastCall function) noexcept
{
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// An unsigned 64-bit count: OverflowError for negative values, TypeError for non-integers.
std::uint64_t u64_arg(PyObject* object);

// A flag the package's Python side has already checked: its truth value.
bool flag_arg(PyObject* object);
double float_arg(PyObject* object);

}  // namespace zelk::arrays
