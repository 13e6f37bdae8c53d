// The module functions lagrange_prolongation_matrix and lagrange_to_legendre_basis_transformation.
#include <Python.h>

#include <cstdint>

#include "call/convert.hpp"
#include "call/entry.hpp"
#include "call/guard.hpp"
#include "call/peak_memory.hpp"
#include "call/signature.hpp"
#include "call/triplets_result.hpp"
#include "fault/checked_size.hpp"
#include "module_items.hpp"
#include "piecewise_polynomials/lagrange_basis.hpp"
#include "piecewise_polynomials/lagrange_prolongation.hpp"

namespace zelk {
namespace {

using namespace call;

constexpr Signature<3> prolongation_sig{"lagrange_prolongation_matrix", "", {"nt_coarse", "nt_fine", "degree"}};

PyObject* lagrange_prolongation_matrix(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    return guarded([&] {
        const auto slots = bind(prolongation_sig, args, nargs, kwnames);
        const std::uint64_t nt_coarse = to_u64(slots[0], "nt_coarse");
        const std::uint64_t nt_fine = to_u64(slots[1], "nt_fine");
        const std::uint64_t degree = to_u64(slots[2], "degree");
        require_bytes(prolongation_call_bytes(nt_coarse, nt_fine, degree));
        // The prolongation reads only the coarse degree and interval count, so
        // the coarse points (on [0, 1]) are never built: a huge nt_coarse costs nothing.
        return triplets_result(piecewise_polynomials::lagrange_prolongation(degree, nt_coarse, nt_fine));
    });
}

constexpr Signature<2> transformation_sig{"lagrange_to_legendre_basis_transformation", "", {"degree", "n_t"}};

PyObject* lagrange_to_legendre_basis_transformation(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                                    PyObject* kwnames)
{
    return guarded([&] {
        const auto slots = bind(transformation_sig, args, nargs, kwnames);
        const std::uint64_t degree = to_u64(slots[0], "degree");
        const std::uint64_t n_t = to_u64(slots[1], "n_t");
        require_bytes(transformation_call_bytes(degree, n_t));
        const auto basis = piecewise_polynomials::LagrangeBasis::new_(degree, n_t, 1.0);
        return triplets_result(basis.get_transormation_matrix_to_legendre());
    });
}

}  // namespace

PyMethodDef lagrange_to_legendre_basis_transformation_def =
    {"lagrange_to_legendre_basis_transformation", as_method(lagrange_to_legendre_basis_transformation), fast_call_flags,
     "lagrange_to_legendre_basis_transformation(degree, n_t)\n--\n\n"};

PyMethodDef lagrange_prolongation_matrix_def = {"lagrange_prolongation_matrix", as_method(lagrange_prolongation_matrix),
                                                fast_call_flags,
                                                "lagrange_prolongation_matrix(nt_coarse, nt_fine, degree)\n--\n\n"};

}  // namespace zelk
