"""zelk's results as numpy arrays and scipy sparse matrices.

The same numbers as :mod:`zelk`, bit for bit, computed by the same native core,
but delivered as arrays that own the core's storage: no Python lists, no
conversion afterwards. Long computations run with the GIL released and stay
interruptible with Ctrl-C. (A NaN result is a NaN in both packages, but its
sign and payload are not part of the bit-for-bit promise.)

Every result is computed with IEEE doubles in a fixed order of operations, so
it is the same to the last bit on every platform and Python version, and
equal to what :mod:`zelk` returns for the same arguments. Sparse matrices are
``scipy.sparse.csr_array`` with float64 data, sorted column indices and
int32 index arrays where every index fits (int64 otherwise).

Errors follow numpy and scipy: ``TypeError`` for arguments of the wrong type
(bool is not a count), ``ValueError`` for invalid values (negative counts
included), ``OverflowError`` for counts beyond 2**63 - 1, for sizes beyond the
address space ("capacity overflow: ...") and for matrices whose indices would
not fit int64, ``MemoryError`` (naming the bytes and the result) for results
larger than the memory available.
"""

from __future__ import annotations

try:
    import numpy  # noqa: F401 - a clear message before any submodule needs it
except ImportError:  # pragma: no cover - depends on the environment
    raise ImportError("zelk_arrays needs numpy: pip install numpy") from None

from ._collocation import Collocation, collocation_matrices, q_delta
from ._expansion import Expansion, LegendreExpansion
from ._grid import TimeGrid
from ._kron_sum import kron_sum
from ._legendre_transfers import legendre_prolongation_matrix, legendre_restriction_matrix
from ._loads import load_vector
from ._matrices import lagrange_prolongation_matrix, lagrange_to_legendre_basis_transformation, legendre_basis_matrix
from ._nodes import reference_nodes
from ._ownership import ownership, row_range
from ._points import get_lagrange_points
from ._preallocation import preallocation
from ._ranges import column_range
from ._slabs import SlabBlocks, reference_blocks, slab_blocks
from ._space_functions import basis_matrix, trace_vector
from ._spaces import LagrangeSpace, LegendreSpace
from ._time_operators import time_derivative_matrix, time_jump_matrix, time_mass_matrix, time_quadrature
from ._transfers import interpolation_matrix, projection_matrix
from ._version import __version__ as __version__

__all__ = [
    "Collocation",
    "Expansion",
    "LagrangeSpace",
    "LegendreExpansion",
    "LegendreSpace",
    "SlabBlocks",
    "TimeGrid",
    "basis_matrix",
    "collocation_matrices",
    "column_range",
    "get_lagrange_points",
    "interpolation_matrix",
    "kron_sum",
    "lagrange_prolongation_matrix",
    "lagrange_to_legendre_basis_transformation",
    "legendre_basis_matrix",
    "legendre_prolongation_matrix",
    "legendre_restriction_matrix",
    "load_vector",
    "projection_matrix",
    "ownership",
    "preallocation",
    "q_delta",
    "reference_blocks",
    "reference_nodes",
    "slab_blocks",
    "row_range",
    "time_derivative_matrix",
    "time_jump_matrix",
    "time_mass_matrix",
    "time_quadrature",
    "trace_vector",
]

# Documented, pickled and shown under the package's own name, not the private module's.
for _name in __all__:
    globals()[_name].__module__ = __name__
del _name
