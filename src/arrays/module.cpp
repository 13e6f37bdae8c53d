// PyInit__native: the extension module beneath zelk_arrays, free of shared mutable state.
#include <Python.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/raw_array.hpp"
#include "fault/interrupt.hpp"
#include "vector_units/vector_level.hpp"

namespace zelk::arrays {
namespace {

PyMethodDef methods[] = {
    {"lagrange_points", as_method(lagrange_points), METH_FASTCALL, lagrange_points_doc},
    {"prolongation_matrix", as_method(prolongation_matrix), METH_FASTCALL, prolongation_matrix_doc},
    {"prolongation_columns", as_method(prolongation_columns), METH_FASTCALL, prolongation_columns_doc},
    {"transformation_matrix", as_method(transformation_matrix), METH_FASTCALL, transformation_matrix_doc},
    {"basis_matrix", as_method(basis_matrix), METH_FASTCALL, basis_matrix_doc},
    {"expansion_values", as_method(expansion_values), METH_FASTCALL, expansion_values_doc},
    {"time_mass_matrix", as_method(time_mass_matrix), METH_FASTCALL, time_mass_matrix_doc},
    {"time_derivative_matrix", as_method(time_derivative_matrix), METH_FASTCALL, time_derivative_matrix_doc},
    {"time_jump_matrix", as_method(time_jump_matrix), METH_FASTCALL, time_jump_matrix_doc},
    {"time_operator_counts", as_method(time_operator_counts), METH_FASTCALL, time_operator_counts_doc},
    {"kron_sum", as_method(kron_sum), METH_FASTCALL, kron_sum_doc},
    {"kron_sum_counts", as_method(kron_sum_counts), METH_FASTCALL, kron_sum_counts_doc},
    {"legendre_prolongation_matrix", as_method(legendre_prolongation_matrix), METH_FASTCALL,
     legendre_prolongation_matrix_doc},
    {"legendre_restriction_matrix", as_method(legendre_restriction_matrix), METH_FASTCALL,
     legendre_restriction_matrix_doc},
    {"time_quadrature", as_method(time_quadrature), METH_FASTCALL, time_quadrature_doc},
    {"grid_quadrature", as_method(grid_quadrature), METH_FASTCALL, grid_quadrature_doc},
    {"load_contraction", as_method(load_contraction), METH_FASTCALL, load_contraction_doc},
    {"collocation_matrices", as_method(collocation_matrices), METH_FASTCALL, collocation_matrices_doc},
    {"grid_time_mass_matrix", as_method(grid_time_mass_matrix), METH_FASTCALL, grid_time_mass_matrix_doc},
    {"grid_time_mass_matrix_counts", as_method(grid_time_mass_matrix_counts), METH_FASTCALL,
     grid_time_mass_matrix_counts_doc},
    {"time_operator_in_layout", as_method(time_operator_in_layout), METH_FASTCALL, time_operator_in_layout_doc},
    {"time_operator_in_layout_counts", as_method(time_operator_in_layout_counts), METH_FASTCALL,
     time_operator_in_layout_counts_doc},
    {"general_time_operator", as_method(general_time_operator), METH_FASTCALL, general_time_operator_doc},
    {"general_time_operator_counts", as_method(general_time_operator_counts), METH_FASTCALL,
     general_time_operator_counts_doc},
    {"weighted_time_mass_matrix", as_method(weighted_time_mass_matrix), METH_FASTCALL, weighted_time_mass_matrix_doc},
    {"space_transfer_matrix", as_method(space_transfer_matrix), METH_FASTCALL, space_transfer_matrix_doc},
    {"expansion_columns", as_method(expansion_columns), METH_FASTCALL, expansion_columns_doc},
    {"space_basis_matrix", as_method(space_basis_matrix), METH_FASTCALL, space_basis_matrix_doc},
    {"space_expansion_values", as_method(space_expansion_values), METH_FASTCALL, space_expansion_values_doc},
    {"vector_levels", as_method(vector_levels), METH_FASTCALL, vector_levels_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "zelk_arrays._native",
    .m_doc = "Native part of zelk_arrays: the core's results as buffers that numpy arrays own.",
    .m_size = -1,
    .m_methods = methods,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

// ZELK_DISPATCH picks the vector level of the exact-bit tests; a name this CPU
// does not run would let them test the default level instead, so it stops the
// import. (zelk itself keeps falling back to the best level, as it always has.)
void check_requested_vector_level()
{
    const char* requested = std::getenv("ZELK_DISPATCH");
    if (requested == nullptr || *requested == '\0') return;
    std::string levels;
    for (VectorLevel level : zelk::vector_levels) {
        if (!vector_level_supported(level)) continue;
        if (vector_level_name(level) == std::string_view(requested)) return;
        levels.append(levels.empty() ? "" : ", ").append(vector_level_name(level));
    }
    raise(PyExc_ImportError,
          "ZELK_DISPATCH='" + std::string(requested) + "' is not a vector level of this CPU; it has: " + levels);
}

PyRef make_module()
{
    check_requested_vector_level();
    PyRef module = checked(PyModule_Create(&module_def));
#ifdef Py_GIL_DISABLED
    // The only state is the Buffer type, made once below and never changed.
    if (PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_NOT_USED) < 0) throw ErrorSet{};
#endif
    PyObject* type = buffer_type();
    if (PyModule_AddObjectRef(module.get(), "Buffer", type) < 0) throw ErrorSet{};
    // This library has its own copy of the core, and with it its own check.
    set_interrupt_check(check_signals);
    return module;
}

}  // namespace
}  // namespace zelk::arrays

PyMODINIT_FUNC PyInit__native(void)
{
    return zelk::arrays::guarded("the module zelk_arrays._native", zelk::arrays::make_module);
}
