// IndexInput: a one-dimensional C-contiguous int64 buffer held for the length of a call.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <string_view>

namespace zelk::arrays {

// As FloatInput, for the index arrays of sparse inputs: anything but
// contiguous int64 data is a TypeError.
class IndexInput {
public:
    IndexInput(PyObject* object, std::string_view name);
    IndexInput(const IndexInput&) = delete;
    IndexInput& operator=(const IndexInput&) = delete;
    ~IndexInput() { PyBuffer_Release(&view_); }

    std::span<const std::int64_t> values() const noexcept
    {
        return {static_cast<const std::int64_t*>(view_.buf),
                static_cast<std::size_t>(view_.len) / sizeof(std::int64_t)};
    }

private:
    Py_buffer view_;
};

}  // namespace zelk::arrays
