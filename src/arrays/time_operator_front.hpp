// The shared body of the three time operator entry points: arguments, CSR storage, the fill without the GIL.
#pragma once

#include <Python.h>

#include "time_operators/time_operator_rows.hpp"

namespace zelk::arrays {

// Arguments: (trial_is_legendre, trial_degree, test_is_legendre, test_degree, n_t, T, k_begin, k_end).
PyObject* time_operator_matrix(time_operators::TimeOperator op, const char* name, PyObject* const* args,
                               Py_ssize_t nargs);

// The shape those eight arguments ask for, its local blocks computed without the GIL.
time_operators::TimeOperatorShape time_operator_arguments(time_operators::TimeOperator op, PyObject* const* args);

}  // namespace zelk::arrays
