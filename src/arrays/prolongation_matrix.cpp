// prolongation_matrix(nt_coarse, nt_fine, degree): the prolongation's CSR arrays, filled row by row without the GIL.
#include <cstdint>
#include <utility>

#include "arrays/csr_result.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "piecewise_polynomials/lagrange_prolongation.hpp"

namespace zelk::arrays {
using namespace piecewise_polynomials;

PyObject* prolongation_matrix(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded([&] {
        expect_arguments("prolongation_matrix", nargs, 3);
        const std::uint64_t nt_coarse = u64_arg(args[0]);
        const std::uint64_t nt_fine = u64_arg(args[1]);
        const std::uint64_t degree = u64_arg(args[2]);
        const ProlongationShape shape = prolongation_shape(degree, nt_coarse, nt_fine);
        // Sized for p + 1 entries per row; rows on a coarse node hold fewer, and
        // the unused tail is given back before Python sees the arrays.
        CsrResult result(shape.nrows, shape.ncols, shape.max_nnz);
        const std::uint64_t nnz = result.fill([&](const auto& rows) { return fill_prolongation_rows(shape, rows); });
        return std::move(result).to_python(nnz);
    });
}

const char prolongation_matrix_doc[] = "prolongation_matrix(nt_coarse, nt_fine, degree, /)\n--\n\nCSR arrays and shape.";

}  // namespace zelk::arrays
