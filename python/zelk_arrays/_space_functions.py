"""Functions of a time space on any grid, node family and layout: basis matrices and traces.

The native side gets a space as (kind, degree, n_t, T, points, nodes,
weights, differentiation, stride): a Legendre space on the uniform grid from
0 passes no points, so that it is located exactly as the uniform
``legendre_basis_matrix`` and :class:`LegendreExpansion` locate; every other
space passes its grid's points. A nodal space passes its node times on the
sub-intervals it covers and its family's barycentric weights and
differentiation matrix on [0, 1].
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Final

import numpy as np
from numpy.typing import ArrayLike

from . import _native
from ._layouts import INTERVAL_MAJOR
from ._nodes import RULES, _choice, reference_nodes
from ._results import _csr, _owned
from ._spaces import LagrangeSpace, LegendreSpace, TimeSpace, other_points
from ._validation import FloatArray, _flag, _index_width, _real, _times

if TYPE_CHECKING:
    from scipy.sparse import csr_array

SIDES: Final = ("right", "left")
_NO_VALUES: Final = np.empty(0, dtype=np.float64)
# What the native space functions take first: kind, degree, n_t, T, points, nodes, weights, differentiation, stride.
NativeSpace = tuple[int, int, int, float, FloatArray, FloatArray, FloatArray, FloatArray, int]
# The native codes of the kinds of space.
_POLYNOMIAL_MAJOR, _INTERVAL_MAJOR, _LAGRANGE = 0, 1, 2


def checked_space(space: object, name: str = "space") -> TimeSpace:
    if not isinstance(space, (LagrangeSpace, LegendreSpace)):
        raise TypeError(f"{name} must be a LagrangeSpace or LegendreSpace, not {type(space).__name__!r}")
    return space


def is_left(side: object) -> bool:
    """Whether ``side`` asks for left limits; checked against "right" and "left"."""
    return _choice(side, "side", SIDES) == "left"


# (n_nodes, family) -> _reference_basis's result: every expansion of a space shares them.
_REFERENCE_BASES: dict[tuple[int, str], tuple[FloatArray, FloatArray]] = {}


def _reference_basis(n_nodes: int, family: str) -> tuple[FloatArray, FloatArray]:
    """Barycentric weights of the family's nodes on [0, 1] and their differentiation matrix (row-major)."""
    found = _REFERENCE_BASES.get((n_nodes, family))
    if found is not None:
        return found
    x = reference_nodes(n_nodes, family)
    differences = x[:, None] - x[None, :]
    np.fill_diagonal(differences, 1.0)
    # Each factor times 4, the capacity of [0, 1]: the products stay near 1 at any degree; the scale cancels.
    weights = 1.0 / np.prod(differences * 4.0, axis=1)
    weights /= np.max(np.abs(weights))
    differentiation = (weights[None, :] / weights[:, None]) / differences
    np.fill_diagonal(differentiation, 0.0)
    np.fill_diagonal(differentiation, -differentiation.sum(axis=1))
    weights.flags.writeable = False
    differentiation = differentiation.reshape(-1)
    differentiation.flags.writeable = False
    if len(_REFERENCE_BASES) < 64:  # a bound on what a loop over degrees can leave behind
        _REFERENCE_BASES[n_nodes, family] = (weights, differentiation)
    return weights, differentiation


def node_times(space: LagrangeSpace, k_begin: int, k_end: int) -> FloatArray:
    """The node times of sub-intervals ``k_begin <= k < k_end``, bit for bit those of ``space.points``."""
    degree = space.degree
    grid = space.grid.points
    if space.nodes != "equispaced":
        times, _ = _native.grid_quadrature(degree + 1, grid[k_begin : k_end + 1], RULES[space.nodes])
        points = _owned(times, np.float64)
        if space.continuous:
            ends = points.reshape(k_end - k_begin, degree + 1)
            points = np.append(ends[:, :degree].reshape(-1), ends[-1, -1])
        return points
    if other_points(space) is None and space.continuous:
        # The uniform points of get_lagrange_points: a + (w * j) / degree with a = h * k and w = (h + a) - a.
        n_t, T = space.n_t, space.T
        h = T / n_t
        starts = h * np.arange(k_begin, k_end, dtype=np.float64)
        widths = (h + starts) - starts
        local = np.arange(degree, dtype=np.float64)
        inner = starts[:, None] + (widths[:, None] * local) / float(degree)
        last = T if k_end == n_t else h * float(k_end)
        return np.append(inner.reshape(-1), last)
    starts = grid[k_begin:k_end, None]
    widths = grid[k_begin + 1 : k_end + 1, None] - starts
    stride = degree if space.continuous else degree + 1
    inner = starts + (widths * np.arange(stride, dtype=np.float64)) / float(degree)
    if space.continuous:
        return np.append(inner.reshape(-1), grid[k_end])
    inner[:, -1] = grid[k_begin + 1 : k_end + 1]  # the end node is the next grid point itself
    return inner.reshape(-1)


def is_uniform_legendre(space: TimeSpace) -> bool:
    """Whether the space is the uniform Legendre space that legendre_basis_matrix and LegendreExpansion serve."""
    return isinstance(space, LegendreSpace) and space.layout != INTERVAL_MAJOR and other_points(space) is None


def within(times: FloatArray, end: float) -> bool:
    """Whether every time lies in [0, end] (NaN does not); the native side names the first that does not."""
    return times.size > 0 and bool(times.min() >= 0.0) and bool(times.max() <= end)


def native_space(space: TimeSpace, k_begin: int = 0, k_end: int | None = None) -> NativeSpace:
    """The nine leading native arguments of ``space`` on sub-intervals ``[k_begin, k_end)``."""
    if k_end is None:
        k_end = space.n_t
    if isinstance(space, LegendreSpace):
        kind = _INTERVAL_MAJOR if space.layout == INTERVAL_MAJOR else _POLYNOMIAL_MAJOR
        points = other_points(space)
        return (
            kind, space.degree, space.n_t, space.T, _NO_VALUES if points is None else points,
            _NO_VALUES, _NO_VALUES, _NO_VALUES, 0,
        )  # fmt: skip
    weights, differentiation = _reference_basis(space.degree + 1, space.nodes)
    stride = space.degree if space.continuous else space.degree + 1
    return (
        _LAGRANGE, space.degree, space.n_t, space.T, space.grid.points,
        node_times(space, k_begin, k_end), weights, differentiation, stride,
    )  # fmt: skip


def basis_matrix(
    space: LagrangeSpace | LegendreSpace,
    times: ArrayLike,
    *,
    derivative: bool = False,
    side: str = "right",
    index_dtype: object = None,
) -> csr_array:
    """A space's basis functions (or their time derivatives) at many times.

    Works for every space on every grid: :class:`LegendreSpace` in either
    layout and :class:`LagrangeSpace` with any node family, continuous or
    not. For a Legendre space on ``n_t`` equal sub-intervals of [0, T] in the
    polynomial-major layout, the matrix is ``legendre_basis_matrix(degree,
    n_t, T, times, derivative)`` bit for bit.

    A grid point t_k between two sub-intervals belongs to the one on its
    right with ``side="right"`` (the end point to the last sub-interval), to
    the one on its left with ``side="left"``: the two one-sided limits of a
    discontinuous space. A continuous nodal space shares the node at t_k
    between both sub-intervals: either side gives 1 in that node's column
    and 0 in the other columns of the sub-interval it picks.

    Parameters
    ----------
    space : LagrangeSpace or LegendreSpace
        The space whose basis functions to evaluate.
    times : array_like
        A real number or one-dimensional real numbers in [start, end] of the
        space's grid.
    derivative : bool, optional
        Time derivatives instead of values (default False).
    side : {"right", "left"}, optional
        Which sub-interval a grid point belongs to (default ``"right"``).

    index_dtype : numpy.int32, numpy.int64 or None, optional
        The index type of the result; None (the default) takes int32 where
        every index and size fits, as scipy does, else int64. int32 for a
        matrix it cannot index is an OverflowError naming the largest index.
    Returns
    -------
    scipy.sparse.csr_array
        Shape ``(len(times), space.dim)``; row r holds the ``degree + 1``
        basis functions of the sub-interval of ``times[r]`` at their global
        indices ``space.index(k, i)``, explicit zeros included. ``B @ c``
        evaluates the function with coefficients ``c`` at every time.

    Raises
    ------
    TypeError
        If ``space`` is not a space, ``times`` not real numbers or a masked
        array, ``derivative`` not a bool or ``side`` not a string.
    ValueError
        If ``times`` has more than one dimension, a time lies outside the
        grid or is NaN (the message names the first), a time is the grid's
        start with ``side="left"``, or ``side`` is unknown.
    OverflowError
        If the sizes overflow.
    MemoryError
        If the matrix does not fit in memory.

    See Also
    --------
    Expansion : Evaluates one set of coefficients without a matrix.
    trace_vector : The basis functions at one time, as a dense vector.
    legendre_basis_matrix : The uniform Legendre form.

    Notes
    -----
    Legendre values come from the three-term recurrence of the local
    coordinate; nodal values from the barycentric formula on the sub-interval's
    own node times, so a time that is a node gives exactly 1 and 0. Nodal
    derivatives combine the values with the family's differentiation matrix,
    which stays accurate next to the nodes. On grids other than the uniform
    one from 0, a time is located by binary search over the grid's points,
    starting from the previous time's sub-interval (sorted times are found at
    once). Time and memory are proportional to the ``len(times) * (degree +
    1)`` stored entries (``(degree + 1)**2`` operations each for nodal
    derivatives).

    Examples
    --------
    >>> import zelk_arrays as za
    >>> space = za.LagrangeSpace(1, za.TimeGrid([0.0, 0.5, 2.0]), nodes="radau-right")
    >>> space.points
    array([0.16666667, 0.5       , 1.        , 2.        ])
    >>> za.basis_matrix(space, [0.25, 0.5, 2.0]).toarray()
    array([[ 0.75,  0.25,  0.  ,  0.  ],
           [ 0.  ,  0.  ,  1.5 , -0.5 ],
           [ 0.  ,  0.  ,  0.  ,  1.  ]])
    >>> za.basis_matrix(space, [0.5], side="left").toarray()    # the node at 0.5 of sub-interval 0
    array([[0., 1., 0., 0.]])
    >>> legendre = za.LegendreSpace(1, za.TimeGrid([0.0, 0.5, 2.0]), layout="interval-major")
    >>> za.basis_matrix(legendre, [0.5, 2.0], side="left").toarray()
    array([[1., 1., 0., 0.],
           [0., 0., 1., 1.]])
    >>> za.basis_matrix(legendre, [1.25], derivative=True).toarray()
    array([[0.        , 0.        , 0.        , 1.33333333]])
    """
    space = checked_space(space)
    left = is_left(side)
    flag = _flag(derivative, "derivative")
    array = _times(times)
    _index_width(index_dtype)  # before a build that may be large
    if not left and is_uniform_legendre(space) and within(array, space.T):
        # The uniform builder itself: the same bits, vectorised.
        return _csr(_native.basis_matrix(space.degree, space.n_t, space.T, array, flag), index_dtype)
    return _csr(_native.space_basis_matrix(*native_space(space), array, left, flag), index_dtype)


def trace_vector(space: LagrangeSpace | LegendreSpace, t: float, side: str = "right") -> FloatArray:
    """The values of all of a space's basis functions at one time t.

    ``trace_vector(space, 0.0)`` holds v_i(0+), the vector of an initial
    condition's right-hand side; ``trace_vector(space, t_k, side="left") @
    u`` is the end value u(t_k-) of a discontinuous solution on a slab.

    Parameters
    ----------
    space : LagrangeSpace or LegendreSpace
        The space whose basis functions to evaluate.
    t : float
        A time in [start, end] of the space's grid.
    side : {"right", "left"}, optional
        Which sub-interval a grid point belongs to, as in :func:`basis_matrix`.

    Returns
    -------
    numpy.ndarray
        float64 of shape ``(space.dim,)``: row ``t`` of
        ``basis_matrix(space, [t], side=side)`` as a dense vector, zero
        outside t's sub-interval.

    Raises
    ------
    TypeError
        If ``space`` is not a space, ``t`` not a real number or ``side`` not
        a string.
    ValueError
        If t lies outside the grid or is NaN, is the grid's start with
        ``side="left"``, or ``side`` is unknown.

    See Also
    --------
    basis_matrix : The same at many times, as a sparse matrix.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> space = za.LegendreSpace(1, za.TimeGrid([0.0, 1.0, 3.0]))
    >>> za.trace_vector(space, 0.0)
    array([ 1.,  0., -1.,  0.])
    >>> za.trace_vector(space, 1.0, side="left")
    array([1., 0., 1., 0.])
    """
    space = checked_space(space)
    time = np.array([_real(t, "t")], dtype=np.float64)
    row = basis_matrix(space, time, side=side)
    values = np.zeros(space.dim, dtype=np.float64)
    values[row.indices] = row.data
    return values
