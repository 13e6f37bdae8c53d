// The module functions sum_as_string and get_lagrange_points: bind, convert, compute, convert back.
#include <Python.h>

#include <cstdint>
#include <string>

#include "call/convert.hpp"
#include "call/entry.hpp"
#include "call/guard.hpp"
#include "call/result.hpp"
#include "call/signature.hpp"
#include "fault/checked_size.hpp"
#include "module_items.hpp"
#include "piecewise_polynomials/lagrange_basis.hpp"

namespace zelk {
namespace {

using namespace call;

// Decimal digits of a value of up to 65 bits: the exact sum of two u64.
std::string decimal(unsigned __int128 value)
{
    char digits[40];
    char* end = digits + sizeof digits;
    char* p = end;
    do {
        *--p = static_cast<char>('0' + static_cast<int>(value % 10));
        value /= 10;
    } while (value != 0);
    return std::string(p, end);
}

constexpr Signature<2> sum_as_string_sig{"sum_as_string", "", {"a", "b"}};

PyObject* sum_as_string(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    return guarded([&] {
        const auto slots = bind(sum_as_string_sig, args, nargs, kwnames);
        const std::uint64_t a = to_u64(slots[0], "a");
        const std::uint64_t b = to_u64(slots[1], "b");
        // Exact: the sum of two u64 needs up to 65 bits and is never wrapped.
        return str_result(decimal(static_cast<unsigned __int128>(a) + b));
    });
}

constexpr Signature<3> get_lagrange_points_sig{"get_lagrange_points", "", {"degree", "n_t", "T"}};

PyObject* get_lagrange_points(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    return guarded([&] {
        const auto slots = bind(get_lagrange_points_sig, args, nargs, kwnames);
        const std::uint64_t degree = to_u64(slots[0], "degree");
        const std::uint64_t n_t = to_u64(slots[1], "n_t");
        const double T = to_double(slots[2], "T");
        // The points and the list of floats made from them must fit together.
        require_memory(piecewise_polynomials::LagrangeBasis::point_count(degree, n_t),
                       sizeof(double) + list_slot_bytes + float_object_bytes);
        const auto basis = piecewise_polynomials::LagrangeBasis::new_(degree, n_t, T);
        return float_list(basis.points);
    });
}

}  // namespace

PyMethodDef sum_as_string_def = {
    "sum_as_string", as_method(sum_as_string), fast_call_flags,
    "sum_as_string(a, b)\n--\n\nFormats the sum of two numbers as string."};

PyMethodDef get_lagrange_points_def = {"get_lagrange_points", as_method(get_lagrange_points), fast_call_flags,
                                       "get_lagrange_points(degree, n_t, T)\n--\n\n"};

}  // namespace zelk
