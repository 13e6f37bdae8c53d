// space_transfer_matrix(projection, source: (is_legendre, degree, family, continuous, interval_major), target: the
// same, source_points, target_points): interpolation or L2 projection between spaces on two grids.
#include <cstdint>
#include <utility>

#include "arrays/csr_result.hpp"
#include "arrays/float_input.hpp"
#include "arrays/frame.hpp"
#include "arrays/functions.hpp"
#include "time_operators/overlap_transfer.hpp"

namespace zelk::arrays {
using namespace time_operators;

namespace {

TransferSpace transfer_space_arg(PyObject* const* args)
{
    return {flag_arg(args[0]), u64_arg(args[1]), u64_arg(args[2]), flag_arg(args[3]), flag_arg(args[4])};
}

}  // namespace

PyObject* space_transfer_matrix(PyObject*, PyObject* const* args, Py_ssize_t nargs)
{
    return guarded("the transfer matrix of the two spaces", [&] {
        expect_arguments("space_transfer_matrix", nargs, 13);
        const Transfer kind = flag_arg(args[0]) ? Transfer::projection : Transfer::interpolation;
        const TransferSpace source = transfer_space_arg(args + 1);
        const TransferSpace target = transfer_space_arg(args + 6);
        const FloatInput source_points(args[11], "source_points");
        const FloatInput target_points(args[12], "target_points");
        const TransferShape shape =
            transfer_shape(kind, source, target, source_points.values(), target_points.values());
        CsrResult result(shape.nrows, shape.ncols, shape.max_nnz);
        const std::uint64_t nnz = result.fill([&](const auto& rows) {
            return fill_transfer_rows(shape, source_points.values(), target_points.values(), rows);
        });
        return std::move(result).to_python(nnz);
    });
}

const char space_transfer_matrix_doc[] =
    "space_transfer_matrix(projection, source_is_legendre, source_degree, source_family, source_continuous, "
    "source_interval_major, target_is_legendre, target_degree, target_family, target_continuous, "
    "target_interval_major, source_points, target_points, /)\n--\n\nCSR arrays and shape.";

}  // namespace zelk::arrays
