// The shared body of the two modal transfer entry points.
#pragma once

#include <Python.h>

namespace zelk::arrays {

// Arguments: (nt_coarse, nt_fine, degree, k_begin, k_end); the range is of the row grid.
PyObject* legendre_transfer_matrix(bool restriction, const char* name, PyObject* const* args, Py_ssize_t nargs);

}  // namespace zelk::arrays
