// Building the triplet tuple from a CsrMatrix, with the result-conversion failure rule.
#include "call/triplets_result.hpp"

#include <cstdint>

#include "call/peak_memory.hpp"
#include "call/result.hpp"
#include "fault/checked_size.hpp"
#include "fault/interrupt.hpp"

namespace zelk::call {
namespace {

// Row indices expanded from the offsets. Ints are immutable, so the entries of
// one row share a single int object instead of making one per entry.
PyRef row_index_list(const linear_algebra::CsrMatrix& matrix)
{
    const auto& offsets = matrix.row_offsets();
    PyRef list = result_object(PyList_New(static_cast<Py_ssize_t>(matrix.nnz())));
    InterruptCountdown countdown;
    for (std::uint64_t r = 0; r + 1 < offsets.size(); ++r) {
        countdown.tick(offsets[r + 1] - offsets[r] + 1);
        if (offsets[r] == offsets[r + 1]) continue;
        PyRef row = result_object(PyLong_FromUnsignedLongLong(r));
        for (std::uint64_t k = offsets[r]; k < offsets[r + 1]; ++k)
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), Py_NewRef(row.get()));
    }
    return list;
}

}  // namespace

PyRef triplets_result(const linear_algebra::CsrMatrix& matrix)
{
    // All three lists at once: a request that cannot fit fails before any is built.
    require_bytes(triplet_lists_bytes(matrix.nnz(), matrix.nrows(), matrix.ncols()));
    PyRef rows = row_index_list(matrix);
    PyRef cols = u64_list(matrix.col_indices());
    PyRef values = float_list(matrix.values());
    return tuple_result(std::move(rows), std::move(cols), std::move(values));
}

}  // namespace zelk::call
