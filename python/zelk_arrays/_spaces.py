"""The two time spaces on a time grid: ``n_t`` equal sub-intervals of [0, T], or any :class:`TimeGrid`.

A space describes a basis and its global numbering; it stores nothing per
degree of freedom (a grid of other points is shared, not copied). The
operator builders read a space's kind, degree and grid, and two spaces are on
the same grid when their ``n_t``, ``T`` and points agree.
"""

from __future__ import annotations

import math
import operator
from typing import Final

import numpy as np
import numpy.typing as npt

from ._grid import TimeGrid, is_uniform_from_zero
from ._layouts import INTERVAL_MAJOR, LAYOUTS, POLYNOMIAL_MAJOR
from ._nodes import _choice
from . import _native
from ._results import _owned
from ._validation import FloatArray, _real

IndexArray = npt.NDArray[np.int64]

_COUNT_LIMIT: Final = 2**63


def _integer(value: object, name: str, minimum: int) -> int:
    try:
        number = operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__!r}") from None
    if number < minimum:
        raise ValueError(f"{name} must be at least {minimum}, got {number}")
    if number >= _COUNT_LIMIT:
        raise OverflowError(f"{name} must be below 2**63, got {number}")
    return number


def _end_time(value: object) -> float:
    T = _real(value, "T")  # noqa: N806 - the grid's own name
    if not (math.isfinite(T) and T > 0.0):
        raise ValueError(f"T must be positive and finite, got {T!r}")
    return T


class _TimeSpace:
    """What both spaces share: the grid, the checks and value semantics."""

    __slots__ = ("_T", "_degree", "_dim", "_grid", "_n_t", "_uniform_grid")
    _minimum_degree = 0

    def __init__(self, degree: int, n_t: int | TimeGrid, T: float | None = None) -> None:  # noqa: N803
        self._degree = _integer(degree, "degree", self._minimum_degree)
        self._uniform_grid: TimeGrid | None = None
        if isinstance(n_t, TimeGrid):
            if T is not None:
                raise TypeError("a space takes a TimeGrid or n_t and T, not a grid and T")
            self._n_t = n_t.n_t
            self._T = n_t.end
            # The uniform grids from 0 are the (n_t, T) spaces themselves: equal, and built alike.
            self._grid: TimeGrid | None = None if is_uniform_from_zero(n_t) else n_t
            if self._grid is None:
                self._uniform_grid = n_t
        else:
            self._n_t = _integer(n_t, "n_t", 1)
            self._T = _end_time(1.0 if T is None else T)
            self._grid = None
        self._dim = self._dimension()
        if self._dim >= _COUNT_LIMIT:
            raise OverflowError(f"the space's dimension {self._dim} exceeds 2**63")

    def _dimension(self) -> int:
        raise NotImplementedError

    @property
    def degree(self) -> int:
        """Polynomial degree on each sub-interval."""
        return self._degree

    @property
    def n_t(self) -> int:
        """Number of sub-intervals."""
        return self._n_t

    @property
    def T(self) -> float:  # noqa: N802 - the grid's own name
        """End of the time interval: the grid's last point."""
        return self._T

    @property
    def grid(self) -> TimeGrid:
        """The :class:`TimeGrid`; for the ``(n_t, T)`` form, ``TimeGrid.uniform(n_t, T)``."""
        if self._grid is not None:
            return self._grid
        if self._uniform_grid is None:
            self._uniform_grid = TimeGrid.uniform(self._n_t, self._T)
        return self._uniform_grid

    @property
    def dim(self) -> int:
        """Number of basis functions."""
        return self._dim

    def _checked_local(self, k: int, i: int) -> tuple[int, int]:
        k = _integer(k, "k", 0)
        i = _integer(i, "i", 0)
        if k >= self._n_t:
            raise ValueError(f"k must be below n_t = {self._n_t}, got {k}")
        if i > self._degree:
            raise ValueError(f"i must be at most degree = {self._degree}, got {i}")
        return k, i

    def __repr__(self) -> str:
        options = "".join(f", {name}={value!r}" for name, value in self._options().items())
        if self._grid is not None:
            return f"{type(self).__name__}(degree={self._degree}, grid={self._grid!r}{options})"
        return f"{type(self).__name__}(degree={self._degree}, n_t={self._n_t}, T={self._T!r}{options})"

    def __eq__(self, other: object) -> bool:
        if type(other) is not type(self):
            return NotImplemented
        assert isinstance(other, _TimeSpace)
        return self._degree == other._degree and same_grid(self, other) and self._options() == other._options()

    def __hash__(self) -> int:
        return hash((type(self).__name__, self._degree, self._n_t, self._T, self._grid, *self._options().items()))

    def __reduce__(self) -> tuple[object, ...]:
        grid: tuple[object, ...] = (self._grid,) if self._grid is not None else (self._n_t, self._T)
        return _restore, (type(self), (self._degree, *grid), self._options())

    def _options(self) -> dict[str, object]:
        """The keyword arguments that differ from the defaults."""
        return {}


class LagrangeSpace(_TimeSpace):
    """Continuous piecewise polynomials of ``degree`` >= 1 in the nodal basis.

    On each sub-interval the basis functions are the Lagrange polynomials of
    its ``degree + 1`` equidistant nodes; neighbouring sub-intervals share
    their end node, so the functions are continuous. Node j of sub-interval k
    has the global index ``k * degree + j`` and ``dim = n_t * degree + 1``:
    the layout of :func:`get_lagrange_points` and
    :func:`lagrange_prolongation_matrix`.

    The grid is ``n_t`` equal sub-intervals of [0, T] (``T`` defaults to
    1.0), or a :class:`TimeGrid` in their place: ``LagrangeSpace(2, grid)``.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> space = za.LagrangeSpace(2, za.TimeGrid([1.0, 1.5, 3.0]))
    >>> space.dim, space.n_t, space.T
    (5, 2, 3.0)
    >>> za.LagrangeSpace(1, za.TimeGrid.uniform(4, 2.0)) == za.LagrangeSpace(1, 4, 2.0)
    True
    >>> space.points
    array([1.  , 1.25, 1.5 , 2.25, 3.  ])

    Raises
    ------
    TypeError
        If ``degree`` or ``n_t`` is not an integer or ``T`` not a real number,
        or ``T`` comes with a grid.
    ValueError
        If ``degree`` < 1, ``n_t`` < 1, or ``T`` is not positive and finite.
    """

    __slots__ = ()
    _minimum_degree = 1

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

    @property
    def nodes(self) -> str:
        """The node family on each sub-interval, ``"equispaced"``."""
        return "equispaced"

    @property
    def continuous(self) -> bool:
        """Whether neighbouring sub-intervals share their end node (they do)."""
        return True

    @property
    def points(self) -> FloatArray:
        """The node times in global index order, a read-only float64 array of ``dim`` values.

        Node j of sub-interval k is ``t_k + ((t_{k+1} - t_k) * j) / degree``
        and the last one is the grid's end; on the ``(n_t, T)`` grid exactly
        ``get_lagrange_points(degree, n_t, T)``.
        """
        if self._grid is None:
            points = _owned(_native.lagrange_points(self._degree, self._n_t, self._T), np.float64)
        else:
            grid = self._grid.points
            starts = grid[:-1, None]
            widths = grid[1:, None] - starts
            points = np.empty(self._dim)
            local = np.arange(self._degree, dtype=np.float64)
            points[:-1].reshape(self._n_t, self._degree)[:] = starts + (widths * local) / float(self._degree)
            points[-1] = grid[-1]
        points.flags.writeable = False
        return points


class LegendreSpace(_TimeSpace):
    """Discontinuous piecewise polynomials of ``degree`` >= 0 in the Legendre basis.

    Basis function i on sub-interval k is P_i of the local coordinate
    x in [-1, 1] there (P_i(1) = 1) and zero elsewhere. Its global index is
    ``i * n_t + k`` in the default ``layout="polynomial-major"``: the
    coefficient layout of :class:`LegendreExpansion` and of
    :func:`lagrange_to_legendre_basis_transformation`. With
    ``layout="interval-major"`` it is ``k * (degree + 1) + i``, so that the
    rows of a range of sub-intervals are contiguous, as time-slab and
    distributed solvers keep them. ``dim = n_t * (degree + 1)`` in both.

    The grid is ``n_t`` equal sub-intervals of [0, T] (``T`` defaults to
    1.0), or a :class:`TimeGrid` in their place: ``LegendreSpace(1, grid)``.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> za.LegendreSpace(1, za.TimeGrid([-1.0, 0.0, 0.5])).dim
    4
    >>> space = za.LegendreSpace(1, 3, layout="interval-major")
    >>> space.index(2, 1), za.LegendreSpace(1, 3).index(2, 1)
    (5, 5)
    >>> space.index(1, 0), za.LegendreSpace(1, 3).index(1, 0)
    (2, 1)

    Raises
    ------
    TypeError
        If ``degree`` or ``n_t`` is not an integer, ``T`` not a real number,
        ``layout`` not a string, or ``T`` comes with a grid.
    ValueError
        If ``degree`` < 0, ``n_t`` < 1, ``T`` is not positive and finite, or
        ``layout`` is unknown.
    """

    __slots__ = ("_layout",)

    def __init__(
        self, degree: int, n_t: int | TimeGrid, T: float | None = None, *, layout: str = POLYNOMIAL_MAJOR  # noqa: N803
    ) -> None:
        self._layout = _choice(layout, "layout", LAYOUTS)
        super().__init__(degree, n_t, T)

    @property
    def layout(self) -> str:
        """``"polynomial-major"`` or ``"interval-major"``: how the global indices run."""
        return self._layout

    def _options(self) -> dict[str, object]:
        return {} if self._layout == POLYNOMIAL_MAJOR else {"layout": self._layout}

    def _dimension(self) -> int:
        return self._n_t * (self._degree + 1)

    def index(self, k: int, i: int) -> int:
        """Global index of P_i (0 <= i <= degree) on sub-interval ``k``."""
        k, i = self._checked_local(k, i)
        if self._layout == INTERVAL_MAJOR:
            return k * (self._degree + 1) + i
        return i * self._n_t + k

    def local_dofs(self) -> IndexArray:
        """int64 array of shape ``(n_t, degree + 1)``: row k holds sub-interval k's global indices."""
        if self._layout == INTERVAL_MAJOR:
            return np.arange(self._dim, dtype=np.int64).reshape(self._n_t, self._degree + 1)
        polynomials = np.arange(self._degree + 1, dtype=np.int64) * self._n_t
        return np.arange(self._n_t, dtype=np.int64)[:, None] + polynomials

    def interval_major(self) -> IndexArray:
        """Permutation ``order`` with ``order[k * (degree + 1) + i] = index(k, i)``.

        ``x[order]`` lists the coefficients sub-interval by sub-interval, as
        time-slab and time-parallel codes keep them (the identity in the
        interval-major layout).
        """
        return self.local_dofs().reshape(-1)


def _restore(cls: type[_TimeSpace], args: tuple[object, ...], keywords: dict[str, object]) -> _TimeSpace:
    return cls(*args, **keywords)  # type: ignore[arg-type]


TimeSpace = LagrangeSpace | LegendreSpace


def same_grid(a: _TimeSpace, b: _TimeSpace) -> bool:
    """Whether two spaces are on the same grid: equal n_t, T and points."""
    return (a._n_t, a._T) == (b._n_t, b._T) and a._grid == b._grid  # noqa: SLF001 - the module's own fields


def grid_description(space: _TimeSpace) -> str:
    """The grid in words, without making the points of a uniform one."""
    if space._grid is not None:  # noqa: SLF001 - the module's own field
        return repr(space._grid)  # noqa: SLF001
    return f"n_t={space._n_t}, T={space._T!r}"  # noqa: SLF001


def other_points(space: _TimeSpace) -> FloatArray | None:
    """The grid's points where they are not the uniform ones of ``(n_t, T)``, else None."""
    return None if space._grid is None else space._grid.points  # noqa: SLF001 - the module's own field
