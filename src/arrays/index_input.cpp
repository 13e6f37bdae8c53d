// IndexInput: acquiring and checking an int64 input buffer.
#include "arrays/index_input.hpp"

#include <cstring>
#include <string>

#include "arrays/frame.hpp"

namespace zelk::arrays {

IndexInput::IndexInput(PyObject* object, std::string_view name)
{
    if (PyObject_GetBuffer(object, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) throw ErrorSet{};
    const char* format = view_.format == nullptr ? "" : view_.format;
    if (*format == '<' || *format == '=' || *format == '@') ++format;
    const bool int64 = view_.itemsize == sizeof(std::int64_t) &&
                       (std::strcmp(format, "q") == 0 || std::strcmp(format, "l") == 0);
    if (!int64 || view_.ndim > 1) {
        PyBuffer_Release(&view_);
        raise(PyExc_TypeError, std::string(name) + " must be a one-dimensional contiguous int64 buffer");
    }
}

}  // namespace zelk::arrays
