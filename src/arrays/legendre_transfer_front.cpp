// legendre_transfer_matrix: arguments and the CSR fill, without the GIL, of a modal prolongation or restriction.
#include "arrays/legendre_transfer_front.hpp"

#include <cstdint>
#include <string>
#include <utility>

#include "arrays/csr_result.hpp"
#include "arrays/frame.hpp"
#include "time_operators/legendre_transfer.hpp"

namespace zelk::arrays {
using namespace time_operators;

PyObject* legendre_transfer_matrix(bool restriction, const char* name, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded(std::string("the matrix of ") + name + "(nt_coarse, nt_fine, degree)", [&] {
        expect_arguments(name, nargs, 5);
        const LegendreTransferShape shape = legendre_transfer_shape(restriction, u64_arg(args[0]), u64_arg(args[1]),
                                                                    u64_arg(args[2]), u64_arg(args[3]),
                                                                    u64_arg(args[4]));
        CsrResult result(shape.nrows, shape.ncols, shape.max_nnz);
        const std::uint64_t nnz =
            result.fill([&](const auto& rows) { return fill_legendre_transfer_rows(shape, rows); });
        return std::move(result).to_python(nnz);
    });
}

}  // namespace zelk::arrays
