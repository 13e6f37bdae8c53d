// Argument conversions: unsigned 64-bit integer, float and float sequence, each naming its parameter on failure.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "call/short_floats.hpp"

namespace zelk::call {

// int (bool included) or an object with __index__, in 0 ..= 2^64 - 1.
std::uint64_t to_u64(PyObject* object, std::string_view param);

double to_double_slow(PyObject* object, std::string_view param);

// float, a float subclass, int, or an object with __float__ / __index__.
inline double to_double(PyObject* object, std::string_view param)
{
    if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
    return to_double_slow(object, param);
}

// Any sequence but str whose items convert as floats, in iteration order.
std::vector<double> to_float_vector(PyObject* object, std::string_view param);
// The same conversion into `out`, which must be empty.
void to_short_floats(PyObject* object, std::string_view param, ShortFloats& out);

}  // namespace zelk::call
