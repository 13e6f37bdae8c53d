// The entry points of zelk_arrays._native, one per file, and their docstrings; the module lists them.
#pragma once

#include <Python.h>

namespace zelk::arrays {

PyObject* lagrange_points(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char lagrange_points_doc[];
PyObject* prolongation_matrix(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char prolongation_matrix_doc[];
PyObject* prolongation_columns(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char prolongation_columns_doc[];
PyObject* transformation_matrix(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char transformation_matrix_doc[];
PyObject* basis_matrix(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char basis_matrix_doc[];
PyObject* expansion_values(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char expansion_values_doc[];
PyObject* time_mass_matrix(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char time_mass_matrix_doc[];
PyObject* time_derivative_matrix(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char time_derivative_matrix_doc[];
PyObject* time_jump_matrix(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char time_jump_matrix_doc[];
PyObject* time_operator_counts(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char time_operator_counts_doc[];
PyObject* kron_sum(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char kron_sum_doc[];
PyObject* kron_sum_counts(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char kron_sum_counts_doc[];
PyObject* legendre_prolongation_matrix(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char legendre_prolongation_matrix_doc[];
PyObject* legendre_restriction_matrix(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char legendre_restriction_matrix_doc[];
PyObject* time_quadrature(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char time_quadrature_doc[];
PyObject* load_contraction(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char load_contraction_doc[];
PyObject* grid_quadrature(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char grid_quadrature_doc[];
PyObject* collocation_matrices(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char collocation_matrices_doc[];
PyObject* grid_time_mass_matrix(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char grid_time_mass_matrix_doc[];
PyObject* grid_time_mass_matrix_counts(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char grid_time_mass_matrix_counts_doc[];
PyObject* time_operator_in_layout(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char time_operator_in_layout_doc[];
PyObject* time_operator_in_layout_counts(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char time_operator_in_layout_counts_doc[];
PyObject* general_time_operator(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char general_time_operator_doc[];
PyObject* general_time_operator_counts(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char general_time_operator_counts_doc[];
PyObject* weighted_time_mass_matrix(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char weighted_time_mass_matrix_doc[];
PyObject* space_transfer_matrix(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char space_transfer_matrix_doc[];
PyObject* expansion_columns(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char expansion_columns_doc[];
PyObject* space_basis_matrix(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char space_basis_matrix_doc[];
PyObject* space_expansion_values(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char space_expansion_values_doc[];
PyObject* vector_levels(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char vector_levels_doc[];

}  // namespace zelk::arrays
