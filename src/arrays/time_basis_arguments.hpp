// The time bases as the package's Python side passes them to the time operator entry points.
#pragma once

#include <Python.h>

#include "time_operators/general_operator_rows.hpp"
#include "time_operators/reference_bases.hpp"

namespace zelk::arrays {

// A basis on the reference interval from (is_legendre, degree).
time_operators::LocalBasis local_basis_arg(PyObject* is_legendre, PyObject* degree);

// A space from five positional arguments: is_legendre, degree, family, continuous, interval_major.
// A Lagrange space's nodes of the family are computed without the GIL.
time_operators::SpaceBasis space_basis_arg(PyObject* const* args);

}  // namespace zelk::arrays
