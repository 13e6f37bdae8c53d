// legendre_prolongation_matrix(nt_coarse, nt_fine, degree, k_begin, k_end): the modal prolongation's CSR arrays.
#include "arrays/functions.hpp"
#include "arrays/legendre_transfer_front.hpp"

namespace zelk::arrays {

PyObject* legendre_prolongation_matrix(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return legendre_transfer_matrix(false, "legendre_prolongation_matrix", args, nargs);
}

const char legendre_prolongation_matrix_doc[] =
    "legendre_prolongation_matrix(nt_coarse, nt_fine, degree, k_begin, k_end, /)\n--\n\nCSR arrays and shape.";

}  // namespace zelk::arrays
