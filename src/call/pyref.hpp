// PyRef: the owning handle for a Python reference, released on every exit path.
#pragma once

#include <Python.h>

#include <utility>

namespace zelk::call {

// False only on a thread that the interpreter is ending during its shutdown
// (thread_exit.hpp): it has no interpreter state any more, so its references
// are left alone, as the interpreter leaves those of the thread's own frames.
inline bool may_drop_references() noexcept
{
#if PY_VERSION_HEX >= 0x030D0000
    return !Py_IsFinalizing() || PyGILState_Check();
#else
    return !_Py_IsFinalizing() || PyGILState_Check();
#endif
}

class PyRef {
public:
    PyRef() noexcept = default;
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept
    {
        PyRef(std::move(other)).swap(*this);
        return *this;
    }
    // Dropping a reference can run Python code (__del__), during which the
    // interpreter may end the thread: hence noexcept(false).
    ~PyRef() noexcept(false)
    {
        if (ref_ != nullptr && may_drop_references()) Py_DECREF(ref_);
    }

    // Takes over a new reference (which may be NULL).
    static PyRef steal(PyObject* ref) noexcept { return PyRef(ref); }
    // Adds a reference of its own to a borrowed one.
    static PyRef borrow(PyObject* ref) noexcept { return PyRef(Py_XNewRef(ref)); }

    PyObject* get() const noexcept { return ref_; }
    // Hands the reference to the caller (for returning it to the interpreter).
    PyObject* release() noexcept { return std::exchange(ref_, nullptr); }
    explicit operator bool() const noexcept { return ref_ != nullptr; }
    void swap(PyRef& other) noexcept { std::swap(ref_, other.ref_); }

private:
    explicit PyRef(PyObject* ref) noexcept : ref_(ref) {}
    PyObject* ref_ = nullptr;
};

}  // namespace zelk::call
