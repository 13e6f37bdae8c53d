// legendre_restriction_matrix(nt_coarse, nt_fine, degree, k_begin, k_end): the modal restriction's CSR arrays.
#include "arrays/functions.hpp"
#include "arrays/legendre_transfer_front.hpp"

namespace zelk::arrays {

PyObject* legendre_restriction_matrix(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return legendre_transfer_matrix(true, "legendre_restriction_matrix", args, nargs);
}

const char legendre_restriction_matrix_doc[] =
    "legendre_restriction_matrix(nt_coarse, nt_fine, degree, k_begin, k_end, /)\n--\n\nCSR arrays and shape.";

}  // namespace zelk::arrays
