// prolongation_matrix, prolongation_columns: the CSR rows of a range of fine sub-intervals, and their columns.
#include <cstdint>
#include <utility>

#include "arrays/csr_result.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "piecewise_polynomials/lagrange_prolongation.hpp"

namespace zelk::arrays {
using namespace piecewise_polynomials;

namespace {

constexpr const char* result_name = "the matrix of lagrange_prolongation_matrix(nt_coarse, nt_fine, degree)";

ProlongationShape shape_arg(PyObject* const* args)
{
    const std::uint64_t nt_coarse = u64_arg(args[0]);
    const std::uint64_t nt_fine = u64_arg(args[1]);
    const std::uint64_t degree = u64_arg(args[2]);
    const std::uint64_t k_begin = u64_arg(args[3]);
    const std::uint64_t k_end = u64_arg(args[4]);
    return prolongation_shape(degree, nt_coarse, nt_fine, k_begin, k_end);
}

}  // namespace

PyObject* prolongation_matrix(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded(result_name, [&] {
        expect_arguments("prolongation_matrix", nargs, 5);
        const ProlongationShape shape = shape_arg(args);
        // Sized for p + 1 entries per row; rows on a coarse node hold fewer, and
        // the unused tail is given back before Python sees the arrays.
        CsrResult result(shape.nrows, shape.ncols, shape.max_nnz);
        const std::uint64_t nnz = result.fill([&](const auto& rows) { return fill_prolongation_rows(shape, rows); });
        return std::move(result).to_python(nnz);
    });
}

PyObject* prolongation_columns(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded(result_name, [&] {
        expect_arguments("prolongation_columns", nargs, 5);
        const auto [first, end] = prolongation_columns(shape_arg(args));
        return checked(Py_BuildValue("(KK)", static_cast<unsigned long long>(first),
                                     static_cast<unsigned long long>(end)));
    });
}

const char prolongation_matrix_doc[] =
    "prolongation_matrix(nt_coarse, nt_fine, degree, k_begin, k_end, /)\n--\n\nCSR arrays and shape.";
const char prolongation_columns_doc[] =
    "prolongation_columns(nt_coarse, nt_fine, degree, k_begin, k_end, /)\n--\n\nThe columns the rows touch.";

}  // namespace zelk::arrays
