// expansion_columns(degree, n_t, T, coefficients, columns, times, derivative): one expansion per column, at many times.
#include <cstdint>
#include <utility>

#include "arrays/float_input.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/raw_array.hpp"
#include "fault/checked_size.hpp"
#include "piecewise_polynomials/legendre_basis.hpp"

namespace zelk::arrays {
using piecewise_polynomials::LegendreBasis;

PyObject* expansion_columns(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the values of LegendreExpansion at times (one per time and column)", [&] {
        expect_arguments("expansion_columns", nargs, 7);
        const LegendreBasis basis{u64_arg(args[0]), u64_arg(args[1]), float_arg(args[2])};
        const FloatInput coefficients(args[3], "coefficients");
        const std::uint64_t columns = u64_arg(args[4]);
        const FloatInput times(args[5], "times");
        const int derivative = PyObject_IsTrue(args[6]);
        if (derivative < 0) throw ErrorSet{};
        if (basis.n_t == 0) raise(PyExc_ValueError, "n_t must be at least 1");
        if (coefficients.values().size() != checked_mul(basis.coefficient_count(), columns))
            raise(PyExc_ValueError, "coefficients must hold n_t * (degree + 1) rows of the given columns");
        RawArray out(checked_mul(times.values().size(), columns), sizeof(double));
        {
            WithoutGil released;
            basis.evaluate_columns(times.values(), coefficients.values(), columns, derivative != 0, out.as<double>());
        }
        return std::move(out).to_python();
    });
}

const char expansion_columns_doc[] =
    "expansion_columns(degree, n_t, T, coefficients, columns, times, derivative, /)\n--\n\nfloat64 buffer, row-major "
    "(times, columns).";

}  // namespace zelk::arrays
