// SpaceArguments: a time space as the package's Python side passes it to the space functions, and their time errors.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>

#include "arrays/float_input.hpp"
#include "piecewise_polynomials/grid_location.hpp"
#include "piecewise_polynomials/space_evaluation.hpp"

namespace zelk::arrays {

// Nine positional arguments: kind, degree, n_t, T, points, nodes, weights,
// differentiation, stride. An empty `points` means n_t equal sub-intervals
// of [0, T]; `nodes`, `weights` and `differentiation` are empty for a
// Legendre space. The held range is set by the caller (the whole grid by default).
class SpaceArguments {
public:
    explicit SpaceArguments(PyObject* const* args);
    SpaceArguments(const SpaceArguments&) = delete;
    SpaceArguments& operator=(const SpaceArguments&) = delete;

    piecewise_polynomials::SpaceBasis basis;
    piecewise_polynomials::GridLocator grid;

private:
    FloatInput points_;
    FloatInput nodes_;
    FloatInput weights_;
    FloatInput differentiation_;
};

// "right" or "left" from the flag the Python side passes (True for left).
piecewise_polynomials::Side side_arg(PyObject* left);

// The ValueError for a time without a value, naming it and why.
[[noreturn]] void raise_time_fault(const piecewise_polynomials::TimeFault& fault, std::span<const double> times,
                                   const SpaceArguments& space, piecewise_polynomials::Side side);

}  // namespace zelk::arrays
