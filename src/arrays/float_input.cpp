// FloatInput: acquiring and checking an input buffer.
#include "arrays/float_input.hpp"

#include <cstring>
#include <string>

#include "arrays/frame.hpp"

namespace zelk::arrays {

FloatInput::FloatInput(PyObject* object, std::string_view name)
{
    if (PyObject_GetBuffer(object, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) throw ErrorSet{};
    const bool float64 = view_.itemsize == sizeof(double) && view_.format != nullptr &&
                         (std::strcmp(view_.format, "d") == 0 || std::strcmp(view_.format, "<d") == 0 ||
                          std::strcmp(view_.format, "=d") == 0);
    if (!float64 || view_.ndim > 1) {
        PyBuffer_Release(&view_);
        raise(PyExc_TypeError, std::string(name) + " must be a one-dimensional contiguous float64 buffer");
    }
}

}  // namespace zelk::arrays
