// PyRef: the owning handle for a Python reference, released on every exit path.
#pragma once

#include <Python.h>

#include <utility>

namespace zelk::call {

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
    ~PyRef() { Py_XDECREF(ref_); }

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
