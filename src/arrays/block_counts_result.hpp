// block_counts_result: preallocation's counts of a builder's rows, made without the GIL, as a Python tuple.
#pragma once

#include <Python.h>

#include <cstdint>
#include <utility>

#include "arrays/frame.hpp"
#include "arrays/raw_array.hpp"
#include "linear_algebra/block_counts.hpp"

namespace zelk::arrays {

// (inside, outside, nrows, ncols, bound): int32 buffers of the nrows rows'
// entries in the columns [column_begin, column_end) and outside them, as
// count(BlockCounts&) gives them, and the shape with the bound on the entries
// that the builder sizes its storage (and so chooses its index type) by.
// ValueError unless column_begin <= column_end <= ncols.
template <class Count>
PyRef block_counts_result(std::uint64_t nrows, std::uint64_t ncols, std::uint64_t bound, PyObject* column_begin,
                          PyObject* column_end, Count&& count)
{
    const std::uint64_t begin = u64_arg(column_begin);
    const std::uint64_t end = u64_arg(column_end);
    if (!(begin <= end && end <= ncols)) raise(PyExc_ValueError, "column block out of range");
    RawArray inside(nrows, sizeof(std::int32_t));
    RawArray outside(nrows, sizeof(std::int32_t));
    {
        WithoutGil released;
        linear_algebra::BlockCounts counts(begin, end, inside.as<std::int32_t>(), outside.as<std::int32_t>());
        count(counts);
    }
    PyRef d = std::move(inside).to_python();
    PyRef o = std::move(outside).to_python();
    return checked(Py_BuildValue("(NNKKK)", d.release(), o.release(), static_cast<unsigned long long>(nrows),
                                 static_cast<unsigned long long>(ncols), static_cast<unsigned long long>(bound)));
}

}  // namespace zelk::arrays
