// Helpers for writing entry points: the fast-call function type and its method-table cast.
#pragma once

#include <Python.h>

namespace zelk::call {

using FastCallWithKeywords = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// The method table stores every entry point as a PyCFunction.
inline PyCFunction as_method(FastCallWithKeywords function) noexcept
{
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

inline constexpr int fast_call_flags = METH_FASTCALL | METH_KEYWORDS;

}  // namespace zelk::call
