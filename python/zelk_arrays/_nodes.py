"""Node families on the reference interval [0, 1] and the quadrature rules' codes."""

from __future__ import annotations

from typing import TYPE_CHECKING, Final

import numpy as np

from . import _native
from ._results import _owned
from ._validation import _count

if TYPE_CHECKING:
    from ._validation import FloatArray

# Codes of the native module's rules.
RULES: Final = {"gauss": 0, "radau-left": 1, "radau-right": 2, "lobatto": 3}
# The node families: the rules, and equispaced nodes with both ends.
FAMILIES: Final = ("equispaced", *RULES)
# Families whose nodes include both ends of [0, 1].
CLOSED: Final = frozenset({"equispaced", "lobatto"})


def _choice(value: object, name: str, choices: tuple[str, ...]) -> str:
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a string, not {type(value).__name__!r}")
    if value not in choices:
        raise ValueError(f"{name} must be one of {', '.join(map(repr, choices))}, got {value!r}")
    return value


def rule_code(rule: object, name: str = "rule") -> int:
    """The native code of a quadrature rule's name."""
    return RULES[_choice(rule, name, tuple(RULES))]


def family_name(family: object, name: str = "family") -> str:
    """A node family's name, checked."""
    return _choice(family, name, FAMILIES)


def minimum_nodes(family: str) -> int:
    """The fewest nodes a family has: two where it includes both ends."""
    return 2 if family in CLOSED else 1


def reference_nodes(n_nodes: int, family: str) -> FloatArray:
    """The ``n_nodes`` nodes of a family on the reference interval [0, 1].

    Parameters
    ----------
    n_nodes : int
        Number of nodes: at least 1, at least 2 for ``"equispaced"`` and
        ``"lobatto"``, whose nodes include both ends.
    family : {"equispaced", "gauss", "radau-left", "radau-right", "lobatto"}
        ``j / (n_nodes - 1)``; the Gauss-Legendre points; the Gauss-Radau
        points with 0 or with 1; the Gauss-Lobatto points with both ends.

    Returns
    -------
    numpy.ndarray
        float64 array of ``n_nodes`` ascending nodes, each the double nearest
        (within 2 ulps) to the exact node: the points of
        ``time_quadrature(n_nodes, 1, 1.0, family)`` for the quadrature
        families.

    Raises
    ------
    TypeError
        If ``n_nodes`` is not an integer or ``family`` not a string.
    ValueError
        If ``family`` is unknown or ``n_nodes`` too small.
    OverflowError
        If ``n_nodes`` is negative or 2**64 or more.

    See Also
    --------
    collocation_matrices : The nodes with their weights and integration matrices.
    LagrangeSpace : Nodal spaces on every sub-interval of a grid, by family.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> za.reference_nodes(3, "equispaced")
    array([0. , 0.5, 1. ])
    >>> za.reference_nodes(2, "radau-right")
    array([0.33333333, 1.        ])
    """
    family = family_name(family)
    n_nodes = _count(n_nodes, "n_nodes", minimum=minimum_nodes(family))
    if family == "equispaced":
        # Each j / (n - 1) rounded once; the ends are exact.
        return np.arange(n_nodes, dtype=np.float64) / float(n_nodes - 1)
    times, _ = _native.time_quadrature(n_nodes, 1, 1.0, RULES[family])
    return _owned(times, np.float64)
