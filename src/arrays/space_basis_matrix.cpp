// space_basis_matrix(space..., times, left, derivative): one CSR row of a space's basis functions per time.
#include <cstdint>
#include <optional>
#include <utility>

#include "arrays/csr_result.hpp"
#include "arrays/float_input.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "arrays/space_arguments.hpp"
#include "fault/checked_size.hpp"

namespace zelk::arrays {
using namespace piecewise_polynomials;

PyObject* space_basis_matrix(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the matrix of basis_matrix(space, times)", [&] {
        expect_arguments("space_basis_matrix", nargs, 12);
        SpaceArguments space(args);
        const FloatInput times(args[9], "times");
        const Side side = side_arg(args[10]);
        const bool derivative = flag_arg(args[11]);
        const std::uint64_t count = times.values().size();
        const std::uint64_t nnz = checked_mul(count, checked_add(space.basis.degree, 1));
        CsrResult result(count, space.basis.columns(), nnz);
        const std::optional<TimeFault> fault = result.fill([&](const auto& rows) {
            space.grid.prepare_for(count);
            return fill_space_basis_rows(space.basis, space.grid, times.values(), side, derivative, rows);
        });
        if (fault) raise_time_fault(*fault, times.values(), space, side);
        return std::move(result).to_python(nnz);
    });
}

const char space_basis_matrix_doc[] =
    "space_basis_matrix(kind, degree, n_t, T, points, nodes, weights, differentiation, stride, times, left, "
    "derivative, /)\n--\n\nCSR arrays and shape.";

}  // namespace zelk::arrays
