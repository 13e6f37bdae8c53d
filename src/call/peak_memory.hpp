// Peak memory of the calls that build large results, so that one that cannot fit fails before any work.
#pragma once

#include <cstdint>

namespace zelk::call {

// The Python side of a sparse result: three lists, a new int per column index
// and a float per value, and one int per row shared by the row's entries.
// Indices below 257 are the interpreter's own cached ints.
std::uint64_t triplet_lists_bytes(std::uint64_t entries, std::uint64_t rows, std::uint64_t cols);

// Whole calls at their peak: the core's arrays and the Python lists and
// objects made from them, alive at once. Each first raises the "capacity
// overflow" fault that the core would raise for the same arguments; for
// arguments the core rejects with a fault of its own (a zero degree or count)
// it returns 0, so that the core reports them.
std::uint64_t points_call_bytes(std::uint64_t degree, std::uint64_t n_t);
std::uint64_t transformation_call_bytes(std::uint64_t degree, std::uint64_t n_t);
std::uint64_t prolongation_call_bytes(std::uint64_t nt_coarse, std::uint64_t nt_fine, std::uint64_t degree);

}  // namespace zelk::call
