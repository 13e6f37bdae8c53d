// SpaceArguments: reading a time space from the arguments, and the ValueError of a time without a value.
#include "arrays/space_arguments.hpp"

#include <string>

#include "arrays/frame.hpp"

namespace zelk::arrays {
using namespace piecewise_polynomials;

namespace {

GridLocator grid_arg(PyObject* n_t, PyObject* T, const FloatInput& points)
{
    if (!points.values().empty()) return GridLocator::from_points(points.values());
    return GridLocator::uniform(u64_arg(n_t), float_arg(T));
}

std::string float_repr(double value)
{
    PyRef number = checked(PyFloat_FromDouble(value));
    PyRef text = checked(PyObject_Repr(number.get()));
    const char* utf8 = PyUnicode_AsUTF8(text.get());
    if (utf8 == nullptr) throw ErrorSet{};
    return utf8;
}

}  // namespace

SpaceArguments::SpaceArguments(PyObject* const* args)
    : basis{},
      grid(GridLocator::uniform(1, 1.0)),
      points_(args[4], "points"),
      nodes_(args[5], "nodes"),
      weights_(args[6], "weights"),
      differentiation_(args[7], "differentiation")
{
    const std::uint64_t kind = u64_arg(args[0]);
    if (kind > static_cast<std::uint64_t>(SpaceKind::lagrange)) raise(PyExc_ValueError, "unknown space kind");
    grid = grid_arg(args[2], args[3], points_);
    basis = SpaceBasis{static_cast<SpaceKind>(kind),
                       u64_arg(args[1]),
                       0,
                       grid.n_t(),
                       u64_arg(args[8]),
                       nodes_.values(),
                       weights_.values(),
                       differentiation_.values()};
}

Side side_arg(PyObject* left)
{
    return flag_arg(left) ? Side::left : Side::right;
}

void raise_time_fault(const TimeFault& fault, std::span<const double> times, const SpaceArguments& space, Side side)
{
    const double t = times[fault.index];
    std::string message = "times[" + std::to_string(fault.index) + "] = " + float_repr(t);
    switch (fault.reason) {
        case Unplaced::outside_grid:
            message += " lies outside the grid [" + float_repr(space.grid.start()) + ", " +
                       float_repr(space.grid.end()) + "]";
            break;
        case Unplaced::start_from_left: message += " is the grid's start, which has no left limit (side='left')"; break;
        case Unplaced::outside_intervals:
            message += " belongs to sub-interval " + std::to_string(fault.k) + " (side='" +
                       (side == Side::left ? "left" : "right") + "'), outside the intervals (" +
                       std::to_string(space.basis.k_begin) + ", " + std::to_string(space.basis.k_end) + ") held";
            break;
    }
    raise(PyExc_ValueError, message);
}

}  // namespace zelk::arrays
