// basis_matrix(degree, n_t, T, times, derivative): one CSR row of basis values (or derivatives) per time.
#include <cstdint>
#include <utility>

#include "arrays/csr_result.hpp"
#include "arrays/float_input.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "fault/checked_size.hpp"
#include "piecewise_polynomials/legendre_basis.hpp"

namespace zelk::arrays {
using piecewise_polynomials::LegendreBasis;

PyObject* basis_matrix(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the matrix of legendre_basis_matrix(degree, n_t, times)", [&] {
        expect_arguments("basis_matrix", nargs, 5);
        const LegendreBasis basis{u64_arg(args[0]), u64_arg(args[1]), float_arg(args[2])};
        const FloatInput times(args[3], "times");
        const int derivative = PyObject_IsTrue(args[4]);
        if (derivative < 0) throw ErrorSet{};
        if (basis.n_t == 0) raise(PyExc_ValueError, "n_t must be at least 1");
        const std::uint64_t count = times.values().size();
        CsrResult result(count, basis.coefficient_count(), checked_mul(count, checked_add(basis.degree, 1)));
        result.fill([&](const auto& rows) { basis.fill_basis_rows(times.values(), derivative != 0, rows); });
        return std::move(result).to_python(count * (basis.degree + 1));
    });
}

const char basis_matrix_doc[] = "basis_matrix(degree, n_t, T, times, derivative, /)\n--\n\nCSR arrays and shape.";

}  // namespace zelk::arrays
