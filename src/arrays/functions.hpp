// The entry points of zelk_arrays._native, one per file, registered by the module.
#pragma once

#include <Python.h>

namespace zelk::arrays {

extern PyMethodDef lagrange_points_def;
extern PyMethodDef prolongation_matrix_def;
extern PyMethodDef transformation_matrix_def;
extern PyMethodDef basis_matrix_def;
extern PyMethodDef expansion_values_def;

}  // namespace zelk::arrays
