// Reading a time basis from the arguments of the time operator entry points.
#include "arrays/time_basis_arguments.hpp"

#include <cstdint>

#include "arrays/frame.hpp"
#include "fault/checked_size.hpp"

namespace zelk::arrays {
using namespace time_operators;

LocalBasis local_basis_arg(PyObject* is_legendre, PyObject* degree)
{
    return {flag_arg(is_legendre) ? BasisKind::legendre : BasisKind::lagrange, u64_arg(degree)};
}

SpaceBasis space_basis_arg(PyObject* const* args)
{
    SpaceBasis s{flag_arg(args[0]) ? BasisKind::legendre : BasisKind::lagrange,
                 u64_arg(args[1]),
                 {},
                 flag_arg(args[3]),
                 flag_arg(args[4])};
    const std::uint64_t family = u64_arg(args[2]);
    if (s.kind == BasisKind::lagrange) {
        WithoutGil released;
        s.nodes = family_nodes(family, checked_add(s.degree, 1));
    }
    return s;
}

}  // namespace zelk::arrays
