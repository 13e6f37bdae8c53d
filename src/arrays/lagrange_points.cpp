// lagrange_points(degree, n_t, T): the Lagrange points as one float64 buffer, filled without the GIL.
#include <cstdint>
#include <utility>

#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/raw_array.hpp"
#include "piecewise_polynomials/lagrange_basis.hpp"

namespace zelk::arrays {
using piecewise_polynomials::LagrangeBasis;

PyObject* lagrange_points(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the points of get_lagrange_points(degree, n_t)", [&] {
        expect_arguments("lagrange_points", nargs, 3);
        const std::uint64_t degree = u64_arg(args[0]);
        const std::uint64_t n_t = u64_arg(args[1]);
        const double T = float_arg(args[2]);
        RawArray points(LagrangeBasis::point_count(degree, n_t), sizeof(double));
        {
            WithoutGil released;
            LagrangeBasis::fill_points(degree, n_t, T, points.as<double>());
        }
        return std::move(points).to_python();
    });
}

const char lagrange_points_doc[] = "lagrange_points(degree, n_t, T, /)\n--\n\nfloat64 buffer.";

}  // namespace zelk::arrays
