// expansion_values(degree, n_t, T, coefficients, times, derivative): an expansion evaluated at many times.
#include <cstdint>
#include <utility>

#include "arrays/float_input.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/raw_array.hpp"
#include "linear_algebra/dense_matrix.hpp"
#include "piecewise_polynomials/legendre_basis.hpp"

namespace zelk::arrays {
using piecewise_polynomials::LegendreBasis;

PyObject* expansion_values(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the values of LegendreExpansion at times", [&] {
        expect_arguments("expansion_values", nargs, 6);
        const LegendreBasis basis{u64_arg(args[0]), u64_arg(args[1]), float_arg(args[2])};
        const FloatInput coefficients(args[3], "coefficients");
        const FloatInput times(args[4], "times");
        const int derivative = PyObject_IsTrue(args[5]);
        if (derivative < 0) throw ErrorSet{};
        if (basis.n_t == 0) raise(PyExc_ValueError, "n_t must be at least 1");
        if (coefficients.values().size() != basis.coefficient_count())
            raise(PyExc_ValueError, "coefficients must hold n_t * (degree + 1) values");
        const auto table =
            linear_algebra::DenseMatrixView::column_major(coefficients.values(), basis.n_t, basis.degree + 1);
        RawArray out(times.values().size(), sizeof(double));
        {
            WithoutGil released;
            basis.evaluate_many(times.values(), table, derivative != 0, out.as<double>());
        }
        return std::move(out).to_python();
    });
}

const char expansion_values_doc[] =
    "expansion_values(degree, n_t, T, coefficients, times, derivative, /)\n--\n\nfloat64 buffer.";

}  // namespace zelk::arrays
