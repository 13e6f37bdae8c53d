// time_mass_matrix(trial_is_legendre, trial_degree, test_is_legendre, test_degree, n_t, T, k_begin, k_end).
#include "arrays/functions.hpp"
#include "arrays/time_operator_front.hpp"

namespace zelk::arrays {

PyObject* time_mass_matrix(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return time_operator_matrix(time_operators::TimeOperator::mass, "time_mass_matrix", args, nargs);
}

const char time_mass_matrix_doc[] =
    "time_mass_matrix(trial_is_legendre, trial_degree, test_is_legendre, test_degree, n_t, T, k_begin, k_end, "
    "/)\n--\n\nCSR arrays and shape.";

}  // namespace zelk::arrays
