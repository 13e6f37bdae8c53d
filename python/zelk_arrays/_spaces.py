"""The two time spaces on a time grid: ``n_t`` equal sub-intervals of [0, T], or any :class:`TimeGrid`.

A space describes a basis and its global numbering; it stores nothing per
degree of freedom (a grid of other points is shared, not copied). The
operator builders read a space's kind, degree and grid, and two spaces are on
the same grid when their ``n_t``, ``T`` and points agree.
"""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

from . import _native
from ._grid import TimeGrid, is_uniform_from_zero
from ._layouts import INTERVAL_MAJOR, LAYOUTS, POLYNOMIAL_MAJOR
from ._nodes import CLOSED, RULES, _choice, family_name
from ._results import _owned
from ._validation import COUNT_MAX, FloatArray, _count, _end_time, _flag

IndexArray = npt.NDArray[np.int64]


class _TimeSpace:
    """What both spaces share: the grid, the checks and value semantics."""

    __slots__ = ("_T", "_degree", "_dim", "_grid", "_n_t", "_uniform_grid")
    _minimum_degree = 0

    def __init__(self, degree: int, n_t: int | TimeGrid, T: float | None = None) -> None:
        self._degree = _count(degree, "degree", self._minimum_degree)
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
            self._n_t = _count(n_t, "n_t", 1)
            self._T = _end_time(1.0 if T is None else T, *self._steps())
            self._grid = None
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
        """Number of sub-intervals."""
        return self._n_t

    @property
    def T(self) -> float:
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
        k = _count(k, "k")
        i = _count(i, "i")
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
    """Piecewise polynomials of ``degree`` in the nodal (Lagrange) basis.

    On each sub-interval the basis functions are the Lagrange polynomials of
    its ``degree + 1`` nodes of the family ``nodes`` (see
    :func:`reference_nodes`): ``"equispaced"`` (the default), ``"gauss"``,
    ``"radau-left"``, ``"radau-right"`` or ``"lobatto"``. Equispaced nodes
    are badly conditioned at high degree; Gauss-Lobatto nodes keep both ends
    and stay well conditioned, and Gauss or Radau nodes suit collocation.

    ``continuous`` defaults to True for the families with both ends
    (equispaced, lobatto): neighbouring sub-intervals share their end node,
    node j of sub-interval k has the global index ``k * degree + j``,
    ``dim = n_t * degree + 1`` and ``degree`` >= 1 (the layout of
    :func:`get_lagrange_points` and :func:`lagrange_prolongation_matrix`).
    A discontinuous space numbers sub-interval by sub-interval,
    ``k * (degree + 1) + j`` and ``dim = n_t * (degree + 1)``; with Gauss or
    Radau nodes ``degree`` may be 0.

    The grid is ``n_t`` equal sub-intervals of [0, T] (``T`` defaults to
    1.0), or a :class:`TimeGrid` in their place: ``LagrangeSpace(2, grid)``.
    A space stores nothing per basis function: it is cheap to create,
    hashable, and equal to another space of the same kind, degree, options
    and grid.

    Parameters
    ----------
    degree : int
        Polynomial degree on each sub-interval: at least 1 for a continuous
        space or nodes with both ends, at least 0 otherwise.
    n_t : int or TimeGrid
        Number of equal sub-intervals of [0, T], at least 1; or a grid.
    T : float, optional
        End of the time interval, positive and finite (default 1.0); not
        with a grid.
    nodes : {"equispaced", "gauss", "radau-left", "radau-right", "lobatto"}, optional
        The node family on each sub-interval (default ``"equispaced"``).
    continuous : bool, optional
        Whether neighbouring sub-intervals share their end node; by default
        True for the families with both ends, else False.

    Attributes
    ----------
    degree : int
        Polynomial degree on each sub-interval.
    n_t : int
        Number of sub-intervals.
    T : float
        End of the time interval (the grid's last point).
    grid : TimeGrid
        The grid's points.
    dim : int
        Number of basis functions.

    See Also
    --------
    LegendreSpace : The discontinuous modal space.
    get_lagrange_points : The equispaced nodes of a continuous space on [0, T].
    time_mass_matrix, time_derivative_matrix, time_jump_matrix : Operators between two spaces.

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
    >>> radau = za.LagrangeSpace(1, za.TimeGrid([0.0, 1.0, 3.0]), nodes="radau-right")
    >>> radau.continuous, radau.dim, radau.points
    (False, 4, array([0.33333333, 1.        , 1.66666667, 3.        ]))

    Raises
    ------
    TypeError
        If ``degree`` or ``n_t`` is not an integer (bool is not one), ``T``
        not a real number, ``continuous`` not a bool, or ``T`` comes with a
        grid.
    ValueError
        If ``degree`` is too small, ``n_t`` < 1, ``T`` is not positive and
        finite or the node spacing ``T / (n_t * degree)`` is not a normal
        double, ``nodes`` is unknown, or ``continuous=True`` with nodes that
        lack an end.
    OverflowError
        If ``degree``, ``n_t`` or the dimension exceeds 2**63 - 1.
    """

    __slots__ = ("_continuous", "_nodes")
    _minimum_degree = 0

    def __init__(
        self,
        degree: int,
        n_t: int | TimeGrid,
        T: float | None = None,
        *,
        nodes: str = "equispaced",
        continuous: bool | None = None,
    ) -> None:
        self._nodes = family_name(nodes, "nodes")
        closed = self._nodes in CLOSED
        if continuous is None:
            continuous = closed
        elif _flag(continuous, "continuous") and not closed:
            raise ValueError(f"continuous=True needs nodes that include both ends, not nodes={self._nodes!r}")
        self._continuous = bool(continuous)
        _count(degree, "degree", 1 if self._continuous or closed else 0)
        super().__init__(degree, n_t, T)

    def _options(self) -> dict[str, object]:
        options: dict[str, object] = {}
        if self._nodes != "equispaced":
            options["nodes"] = self._nodes
        if self._continuous != (self._nodes in CLOSED):
            options["continuous"] = self._continuous
        return options

    def _steps(self) -> tuple[int, ...]:
        return (self._n_t, self._degree)

    def _dimension(self) -> int:
        if self._continuous:
            return self._n_t * self._degree + 1
        return self._n_t * (self._degree + 1)

    def _stride(self) -> int:
        return self._degree if self._continuous else self._degree + 1

    def index(self, k: int, i: int) -> int:
        """Global index of node ``i`` (0 <= i <= degree) of sub-interval ``k``."""
        k, i = self._checked_local(k, i)
        return k * self._stride() + i

    def local_dofs(self) -> IndexArray:
        """int64 array of shape ``(n_t, degree + 1)``: row k holds sub-interval k's global indices."""
        starts = np.arange(self._n_t, dtype=np.int64) * self._stride()
        return starts[:, None] + np.arange(self._degree + 1, dtype=np.int64)

    def interval_major(self) -> IndexArray:
        """The identity permutation: the nodal layout already runs sub-interval by sub-interval."""
        return np.arange(self._dim, dtype=np.int64)

    @property
    def nodes(self) -> str:
        """The node family on each sub-interval, as given."""
        return self._nodes

    @property
    def continuous(self) -> bool:
        """Whether neighbouring sub-intervals share their end node."""
        return self._continuous

    @property
    def points(self) -> FloatArray:
        """The node times in global index order, a read-only float64 array of ``dim`` values.

        Equispaced node j of sub-interval k is ``t_k + ((t_{k+1} - t_k) * j) /
        degree`` and the end nodes are the grid's points; on the ``(n_t, T)``
        grid a continuous space has exactly ``get_lagrange_points(degree,
        n_t, T)``. The nodes of the other families are the doubles nearest to
        ``t_k + (t_{k+1} - t_k) tau_j``.
        """
        if self._nodes != "equispaced":
            # The family's nodes on every sub-interval, each rounded once; a continuous space lists a shared end once.
            times, _ = _native.grid_quadrature(self._degree + 1, self.grid.points, RULES[self._nodes])
            points = _owned(times, np.float64)
            if self._continuous:
                ends = points.reshape(self._n_t, self._degree + 1)
                points = np.append(ends[:, : self._degree].reshape(-1), ends[-1, -1])
        elif self._grid is None and self._continuous:
            points = _owned(_native.lagrange_points(self._degree, self._n_t, self._T), np.float64)
        else:
            grid = self.grid.points
            starts = grid[:-1, None]
            widths = grid[1:, None] - starts
            local = np.arange(self._stride(), dtype=np.float64)
            inner = starts + (widths * local) / float(self._degree)
            if self._continuous:
                points = np.append(inner.reshape(-1), grid[-1])
            else:
                inner[:, -1] = grid[1:]  # the end node is the next grid point itself
                points = inner.reshape(-1)
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
    A space stores nothing per basis function: it is cheap to create,
    hashable, and equal to another space of the same kind, degree, layout
    and grid.

    Parameters
    ----------
    degree : int
        Polynomial degree on each sub-interval, at least 0.
    n_t : int or TimeGrid
        Number of equal sub-intervals of [0, T], at least 1; or a grid.
    T : float, optional
        End of the time interval, positive and finite (default 1.0); not
        with a grid.
    layout : {"polynomial-major", "interval-major"}, optional
        How the global indices run (default ``"polynomial-major"``).

    Attributes
    ----------
    degree : int
        Polynomial degree on each sub-interval.
    n_t : int
        Number of sub-intervals.
    T : float
        End of the time interval (the grid's last point).
    grid : TimeGrid
        The grid's points.
    dim : int
        Number of basis functions.

    See Also
    --------
    LagrangeSpace : The nodal space.
    LegendreExpansion : Evaluates coefficients in the polynomial-major layout.
    time_mass_matrix, time_derivative_matrix, time_jump_matrix : Operators between two spaces.

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
        If ``degree`` or ``n_t`` is not an integer (bool is not one), ``T``
        not a real number, ``layout`` not a string, or ``T`` comes with a
        grid.
    ValueError
        If ``degree`` < 0, ``n_t`` < 1, ``T`` is not positive and finite or
        the step ``T / n_t`` is not a normal double, or ``layout`` is unknown.
    OverflowError
        If ``degree``, ``n_t`` or the dimension exceeds 2**63 - 1.
    """

    __slots__ = ("_layout",)

    def __init__(
        self, degree: int, n_t: int | TimeGrid, T: float | None = None, *, layout: str = POLYNOMIAL_MAJOR
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
    return cls(*args, **keywords)  # type: ignore[arg-type]  # the arguments its own __reduce__ saved


TimeSpace = LagrangeSpace | LegendreSpace


def checked_spaces(**spaces: object) -> tuple[TimeSpace, ...]:
    """The spaces in the order given; the first that is not one is a TypeError under its name."""
    checked = []
    for name, space in spaces.items():
        if not isinstance(space, (LagrangeSpace, LegendreSpace)):
            raise TypeError(f"{name} must be a LagrangeSpace or a LegendreSpace, not {type(space).__name__!r}")
        checked.append(space)
    return tuple(checked)


def _description(space: TimeSpace) -> tuple[bool, int, int, bool, bool]:
    """The five native arguments of a space: is_legendre, degree, node family, continuous, interval_major."""
    if isinstance(space, LagrangeSpace):
        family = 0 if space.nodes == "equispaced" else RULES[space.nodes] + 1
        return False, space.degree, family, space.continuous, False
    return True, space.degree, 0, False, _interval_major(space)


def _interval_major(space: TimeSpace) -> bool:
    return isinstance(space, LegendreSpace) and space.layout == INTERVAL_MAJOR


def same_grid(a: _TimeSpace, b: _TimeSpace) -> bool:
    """Whether two spaces are on the same grid: equal n_t, T and points."""
    return (a._n_t, a._T) == (b._n_t, b._T) and a._grid == b._grid  # noqa: SLF001 - the module's own fields


def grid_description(space: _TimeSpace) -> str:
    """The grid in words, without making the points of a uniform one."""
    if space._grid is not None:  # noqa: SLF001 - the module's own field
        return repr(space._grid)  # noqa: SLF001 - the module's own field
    return f"n_t={space._n_t}, T={space._T!r}"  # noqa: SLF001 - the module's own fields


def other_points(space: _TimeSpace) -> FloatArray | None:
    """The grid's points where they are not the uniform ones of ``(n_t, T)``, else None."""
    return None if space._grid is None else space._grid.points  # noqa: SLF001 - the module's own field
