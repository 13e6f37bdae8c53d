// Result conversion: numbers, vectors and text from the core into new Python objects.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <string_view>

#include "call/pyref.hpp"

namespace zelk::call {

// Each returns a new object. If the interpreter cannot make it, the pending
// error is printed and the call ends with the fault "Python API call failed".
PyRef float_result(double value);
PyRef float_list(std::span<const double> values);
PyRef u64_list(std::span<const std::uint64_t> values);
PyRef str_result(std::string_view text);
PyRef none_result() noexcept;
PyRef tuple_result(PyRef a, PyRef b, PyRef c);

// Checks one result object made by the interpreter, by the rule above.
PyRef result_object(PyObject* new_ref);

// The object allocator hands out 16-byte granules.
constexpr std::uint64_t allocated_bytes(std::uint64_t size)
{
    return (size + 15) / 16 * 16;
}

// Sizes of what a result list holds: a list slot, a float, an int below 2^60
// (two 30-bit digits), as allocated.
inline constexpr std::uint64_t list_slot_bytes = sizeof(PyObject*);
inline constexpr std::uint64_t float_object_bytes = allocated_bytes(sizeof(PyFloatObject));
inline constexpr std::uint64_t int_object_bytes = allocated_bytes(sizeof(PyVarObject) + 2 * 4);

}  // namespace zelk::call
