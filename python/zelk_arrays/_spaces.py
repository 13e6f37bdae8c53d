"""The two time spaces on a grid of ``n_t`` equal sub-intervals of [0, T].

A space describes a basis and its global numbering; it stores nothing per
degree of freedom. The operator builders read a space's kind, degree and
grid, and two spaces are on the same grid when their ``n_t`` and ``T`` agree.
"""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

from ._validation import COUNT_MAX, _count, _end_time

IndexArray = npt.NDArray[np.int64]


class _TimeSpace:
    """What both spaces share: the grid, the checks and value semantics."""

    __slots__ = ("_T", "_degree", "_dim", "_n_t")
    _minimum_degree = 0

    def __init__(self, degree: int, n_t: int, T: float = 1.0) -> None:
        self._degree = _count(degree, "degree", self._minimum_degree)
        self._n_t = _count(n_t, "n_t", 1)
        self._T = _end_time(T, *self._steps())
        self._dim = self._dimension()
        if self._dim > COUNT_MAX:
            raise OverflowError(f"the space's dimension {self._dim} exceeds 2**63 - 1")

    def _steps(self) -> tuple[int, ...]:
        """The grid's steps per [0, T]: its nodes are T / (product) apart."""
        return (self._n_t,)

    def _dimension(self) -> int:
        raise NotImplementedError

    @property
    def degree(self) -> int:
        """Polynomial degree on each sub-interval."""
        return self._degree

    @property
    def n_t(self) -> int:
        """Number of equal sub-intervals of [0, T]."""
        return self._n_t

    @property
    def T(self) -> float:  # noqa: N802 - the grid's own name
        """End of the time interval."""
        return self._T

    @property
    def dim(self) -> int:
        """Number of basis functions."""
        return self._dim

    def _checked_local(self, k: int, i: int) -> tuple[int, int]:
        k = _count(k, "k")
        i = _count(i, "i")
        if k >= self._n_t:
            raise ValueError(f"k must be below n_t = {self._n_t}, got {k}")
        if i > self._degree:
            raise ValueError(f"i must be at most degree = {self._degree}, got {i}")
        return k, i

    def __repr__(self) -> str:
        return f"{type(self).__name__}(degree={self._degree}, n_t={self._n_t}, T={self._T!r})"

    def __eq__(self, other: object) -> bool:
        if type(other) is not type(self):
            return NotImplemented
        assert isinstance(other, _TimeSpace)
        return (self._degree, self._n_t, self._T) == (other._degree, other._n_t, other._T)

    def __hash__(self) -> int:
        return hash((type(self).__name__, self._degree, self._n_t, self._T))


class LagrangeSpace(_TimeSpace):
    """Continuous piecewise polynomials of ``degree`` >= 1 in the nodal basis.

    On each sub-interval the basis functions are the Lagrange polynomials of
    its ``degree + 1`` equidistant nodes; neighbouring sub-intervals share
    their end node, so the functions are continuous. Node j of sub-interval k
    has the global index ``k * degree + j`` and ``dim = n_t * degree + 1``:
    the layout of :func:`get_lagrange_points` and
    :func:`lagrange_prolongation_matrix`.

    Raises
    ------
    TypeError
        If ``degree`` or ``n_t`` is not an integer (bool is not one) or ``T`` not a real number.
    ValueError
        If ``degree`` < 1, ``n_t`` < 1, or ``T`` is not positive and finite
        or the node spacing ``T / (n_t * degree)`` is not a normal double.
    OverflowError
        If ``degree``, ``n_t`` or the dimension exceeds 2**63 - 1.
    """

    __slots__ = ()
    _minimum_degree = 1

    def _steps(self) -> tuple[int, ...]:
        return (self._n_t, self._degree)

    def _dimension(self) -> int:
        return self._n_t * self._degree + 1

    def index(self, k: int, i: int) -> int:
        """Global index of node ``i`` (0 <= i <= degree) of sub-interval ``k``."""
        k, i = self._checked_local(k, i)
        return k * self._degree + i

    def local_dofs(self) -> IndexArray:
        """int64 array of shape ``(n_t, degree + 1)``: row k holds sub-interval k's global indices."""
        starts = np.arange(self._n_t, dtype=np.int64) * self._degree
        return starts[:, None] + np.arange(self._degree + 1, dtype=np.int64)

    def interval_major(self) -> IndexArray:
        """The identity permutation: the nodal layout already runs sub-interval by sub-interval."""
        return np.arange(self._dim, dtype=np.int64)


class LegendreSpace(_TimeSpace):
    """Discontinuous piecewise polynomials of ``degree`` >= 0 in the Legendre basis.

    Basis function i on sub-interval k is P_i of the local coordinate
    x in [-1, 1] there (P_i(1) = 1) and zero elsewhere; its global index is
    ``i * n_t + k`` and ``dim = n_t * (degree + 1)``: the coefficient layout
    of :class:`LegendreExpansion` and of
    :func:`lagrange_to_legendre_basis_transformation`.

    Raises
    ------
    TypeError
        If ``degree`` or ``n_t`` is not an integer (bool is not one) or ``T`` not a real number.
    ValueError
        If ``degree`` < 0, ``n_t`` < 1, or ``T`` is not positive and finite
        or the step ``T / n_t`` is not a normal double.
    OverflowError
        If ``degree``, ``n_t`` or the dimension exceeds 2**63 - 1.
    """

    __slots__ = ()

    def _dimension(self) -> int:
        return self._n_t * (self._degree + 1)

    def index(self, k: int, i: int) -> int:
        """Global index of P_i (0 <= i <= degree) on sub-interval ``k``."""
        k, i = self._checked_local(k, i)
        return i * self._n_t + k

    def local_dofs(self) -> IndexArray:
        """int64 array of shape ``(n_t, degree + 1)``: row k holds sub-interval k's global indices."""
        polynomials = np.arange(self._degree + 1, dtype=np.int64) * self._n_t
        return np.arange(self._n_t, dtype=np.int64)[:, None] + polynomials

    def interval_major(self) -> IndexArray:
        """Permutation ``order`` with ``order[k * (degree + 1) + i] = i * n_t + k``.

        ``x[order]`` lists the coefficients sub-interval by sub-interval, as
        time-slab and time-parallel codes keep them.
        """
        return self.local_dofs().reshape(-1)


TimeSpace = LagrangeSpace | LegendreSpace
