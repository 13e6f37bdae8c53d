// LagrangeBasis: the nodal point grid of a time grid (degree, n_t, T) and the matrices built on it.
#pragma once

#include <cstdint>
#include <vector>

namespace zelk::piecewise_polynomials {

// Global Lagrange points of [0, T] cut into n_t equal sub-intervals, each with
// degree + 1 equidistant nodes; neighbouring sub-intervals share their end node.
struct LagrangeBasis {
    std::vector<double> points;  // n_t * degree + 1 values, the last one T itself
    std::uint64_t degree;
    std::uint64_t n_t;

    // Builds the point list; accepts any degree, n_t and T. A point count that
    // overflows or exceeds the address space is a "capacity overflow" fault;
    // one that cannot be allocated throws std::bad_alloc before any filling.
    static LagrangeBasis new_(std::uint64_t degree, std::uint64_t n_t, double T);
};

}  // namespace zelk::piecewise_polynomials
