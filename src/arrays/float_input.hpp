// FloatInput: a one-dimensional C-contiguous float64 buffer held for the length of a call.
#pragma once

#include <Python.h>

#include <span>
#include <string_view>

namespace zelk::arrays {

// Holding the buffer keeps its exporter from resizing or freeing it while the
// core reads it without the GIL. Anything but contiguous float64 data is a TypeError.
class FloatInput {
public:
    FloatInput(PyObject* object, std::string_view name);
    FloatInput(const FloatInput&) = delete;
    FloatInput& operator=(const FloatInput&) = delete;
    ~FloatInput() { PyBuffer_Release(&view_); }

    std::span<const double> values() const noexcept
    {
        return {static_cast<const double*>(view_.buf), static_cast<std::size_t>(view_.len) / sizeof(double)};
    }

private:
    Py_buffer view_;
};

}  // namespace zelk::arrays
