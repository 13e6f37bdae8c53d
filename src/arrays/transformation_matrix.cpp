// transformation_matrix(degree, n_t, k_begin, k_end): the Lagrange-to-Legendre CSR rows a range owns, without the GIL.
#include <cstdint>
#include <utility>

#include "arrays/csr_result.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "piecewise_polynomials/lagrange_basis.hpp"
#include "piecewise_polynomials/transformation_rows.hpp"

namespace zelk::arrays {
using namespace piecewise_polynomials;

PyObject* transformation_matrix(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the matrix of lagrange_to_legendre_basis_transformation(degree, n_t)", [&] {
        expect_arguments("transformation_matrix", nargs, 4);
        const std::uint64_t degree = u64_arg(args[0]);
        const std::uint64_t n_t = u64_arg(args[1]);
        const std::uint64_t k_begin = u64_arg(args[2]);
        const std::uint64_t k_end = u64_arg(args[3]);
        // The columns are the grid's Lagrange points, which need not be built.
        const TransformationShape shape =
            transformation_shape(degree, n_t, LagrangeBasis::point_count(degree, n_t), k_begin, k_end);
        CsrResult result(shape.nrows, shape.ncols, shape.nnz);
        result.fill([&](const auto& rows) { fill_transformation_rows(shape, rows); });
        return std::move(result).to_python(shape.nnz);
    });
}

const char transformation_matrix_doc[] =
    "transformation_matrix(degree, n_t, k_begin, k_end, /)\n--\n\nCSR arrays and shape.";

}  // namespace zelk::arrays
