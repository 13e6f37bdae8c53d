// What the module body registers: the four function definitions and the two class objects.
#pragma once

#include <Python.h>

namespace zelk {

extern PyMethodDef sum_as_string_def;
extern PyMethodDef lagrange_to_legendre_basis_transformation_def;
extern PyMethodDef lagrange_prolongation_matrix_def;
extern PyMethodDef get_lagrange_points_def;

// The class objects, made on first use and kept for the process (borrowed).
// A failure to make one is RuntimeError "An error occurred while initializing
// class <name>" caused by the creation error.
PyObject* legendre_basis_type();
PyObject* legendre_basis_evaluator_type();

}  // namespace zelk
