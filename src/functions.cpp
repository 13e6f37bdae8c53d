// The module functions sum_as_string and get_lagrange_points: bind, convert, compute, convert back.
#include <Python.h>

#include <cstdint>
#include <string>

#include "call/convert.hpp"
#include "call/entry.hpp"
#include "call/guard.hpp"
#include "call/peak_memory.hpp"
#include "call/result.hpp"
#include "call/signature.hpp"
#include "fault/checked_size.hpp"
#include "module_items.hpp"
#include "piecewise_polynomials/lagrange_basis.hpp"

namespace zelk {
namespace {

using namespace call;

// Decimal digits of the exact sum of two u64, which needs up to 65 bits, in
// 64-bit arithmetic: with a carry the sum is 2^64 + low, and
// 2^64 = 1844674407370955161 * 10 + 6 gives its tens and its last digit.
std::string decimal_sum(std::uint64_t a, std::uint64_t b)
{
    const std::uint64_t low = a + b;  // wraps exactly when the sum needs the 65th bit
    std::uint64_t tens = low / 10;
    std::uint64_t last = low % 10;
    if (low < a) {
        tens += 1844674407370955161u;
        last += 6;
        if (last >= 10) {
            last -= 10;
            tens += 1;
        }
    }
    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    *--p = static_cast<char>('0' + last);
    for (; tens != 0; tens /= 10) *--p = static_cast<char>('0' + tens % 10);
    return std::string(p, end);
}

constexpr Signature<2> sum_as_string_sig{"sum_as_string", "", {"a", "b"}};

PyObject* sum_as_string(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    return guarded([&] {
        const auto slots = bind(sum_as_string_sig, args, nargs, kwnames);
        const std::uint64_t a = to_u64(slots[0], "a");
        const std::uint64_t b = to_u64(slots[1], "b");
        return str_result(decimal_sum(a, b));
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
        require_bytes(points_call_bytes(degree, n_t));
        const auto basis = piecewise_polynomials::LagrangeBasis::new_(degree, n_t, T);
        return float_list(basis.points);
    });
}

}  // namespace

PyMethodDef sum_as_string_def = {"sum_as_string", as_method(sum_as_string), fast_call_flags,
                                 "sum_as_string(a, b)\n--\n\nFormats the sum of two numbers as string."};

PyMethodDef get_lagrange_points_def = {"get_lagrange_points", as_method(get_lagrange_points), fast_call_flags,
                                       "get_lagrange_points(degree, n_t, T)\n--\n\n"};

}  // namespace zelk
