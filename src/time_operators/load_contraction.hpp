// The quadrature sums of a load vector on each sub-interval: weights times values against the basis at the nodes.
#pragma once

#include <cstdint>
#include <span>

namespace zelk::time_operators {

// For sub-intervals k < K = values.size() / (n columns), local functions i < size =
// basis.size() / n and columns c < columns:
//   local[(k size + i) columns + c] = sum over q < n of (weights[k n + q] values[(k n + q) columns + c]) basis[q size + i],
// the terms added in ascending q from the first; weights may hold only the n
// that every sub-interval shares (weights[k n + q] read as weights[q]). Faults: "load values have the
// wrong length" and "load result has the wrong length". Polls for interrupts.
void contract_load(std::span<const double> weights, std::span<const double> values, std::uint64_t columns,
                   std::span<const double> basis, std::uint64_t n, std::span<double> local);

}  // namespace zelk::time_operators
