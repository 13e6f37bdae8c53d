"""Load vectors: the integrals of a function against every test function, by a quadrature rule."""

from __future__ import annotations

import math
from collections.abc import Callable

import numpy as np

from . import _native
from ._nodes import RULES, _choice, reference_nodes
from ._ranges import checked_intervals
from ._results import _owned
from ._spaces import LagrangeSpace, LegendreSpace, TimeSpace, other_points
from ._time_operators import _interval_major, time_quadrature
from ._validation import FloatArray, _count


def _reference_values(space: TimeSpace, nodes: FloatArray) -> FloatArray:
    """The space's local basis functions at the reference nodes of [0, 1], shape (nodes, degree + 1)."""
    p = space.degree
    values = np.empty((nodes.size, p + 1))
    if isinstance(space, LegendreSpace):
        x = 2.0 * nodes - 1.0
        values[:, 0] = 1.0
        if p >= 1:
            values[:, 1] = x
        for n in range(1, p):
            values[:, n + 1] = ((2 * n + 1) * x * values[:, n] - n * values[:, n - 1]) / (n + 1)
        return values
    assert isinstance(space, LagrangeSpace)
    own = reference_nodes(p + 1, space.nodes)
    for j in range(p + 1):
        column = np.ones(nodes.size)
        for m in range(p + 1):
            if m != j:
                column *= (nodes - own[m]) / (own[j] - own[m])
        values[:, j] = column
    return values


def _default_points(degree: int, rule: str) -> int:
    """The fewest points that integrate polynomials of degree 2 * degree exactly."""
    if rule == "lobatto":
        return degree + 2
    return degree + 1


def load_vector(
    test: LagrangeSpace | LegendreSpace,
    f: Callable[[FloatArray], object],
    *,
    n_points: int | None = None,
    rule: str = "gauss",
    intervals: tuple[int, int] | range | None = None,
) -> FloatArray:
    """The load vector b[i] = integral of f v_i dt, by a quadrature rule on each sub-interval.

    ``f`` is called once, with the float64 array of all quadrature times
    (:func:`time_quadrature` of the test space's grid), and returns an
    array of shape ``times.shape + trailing``: a vector-valued ``f`` gives
    one load vector per trailing index. On each sub-interval
    ``b_k[i] = sum_q (w_q f(t_q)) v_i(t_q)``, the terms added in the order
    of the points; a node that two sub-intervals of a continuous space
    share adds the earlier sub-interval's integral and then the later one's.

    Parameters
    ----------
    test : LagrangeSpace or LegendreSpace
        The test space: its functions number the entries, in its layout.
    f : callable
        ``f(times)`` for a one-dimensional float64 array, returning real
        numbers of shape ``times.shape + trailing``.
    n_points : int, optional
        Points per sub-interval. The default, ``test.degree + 1`` (one more
        for ``"lobatto"``), integrates ``f v_i`` exactly when f is a
        polynomial of the test degree on each sub-interval.
    rule : {"gauss", "radau-right", "radau-left", "lobatto"}
        The rule of :func:`time_quadrature`.
    intervals : tuple of two ints or range, optional
        ``(k_begin, k_end)``: only the entries that these sub-intervals own,
        in the order and with the bits of the same entries of the whole
        vector (the rows of :func:`time_mass_matrix` with the same
        ``intervals``). f sees only the times of the sub-intervals those
        entries' functions live on: the range's, and for a continuous
        space with ``k_begin > 0`` also sub-interval ``k_begin - 1``'s,
        whose share the node t_k_begin adds.

    Returns
    -------
    numpy.ndarray
        float64, shape ``(rows,) + trailing`` with ``rows = test.dim`` for
        the whole grid.

    Raises
    ------
    TypeError
        If ``test`` is not a space, ``f`` not callable, ``n_points`` not an
        integer or ``rule`` not a string, or f returns something that is not
        real numbers.
    ValueError
        If ``rule`` is unknown, ``n_points`` too small, ``intervals`` out of
        range, or f returns an array whose shape does not start with
        ``times.shape``.

    See Also
    --------
    time_quadrature : The times and weights.
    slab_blocks : The matrices of a slab, for the same right-hand side.

    Notes
    -----
    Beside f's own work, takes one pass over its values and the quadrature
    weights, and ``16 * n_points`` bytes per sub-interval for the times and
    weights.

    Examples
    --------
    The integrals of f(t) = t against dG(1)'s Legendre functions on [0, 2]:

    >>> import zelk_arrays as za
    >>> za.load_vector(za.LegendreSpace(1, 2, 2.0), lambda t: t)
    array([0.5       , 1.5       , 0.16666667, 0.16666667])
    """
    if not isinstance(test, (LagrangeSpace, LegendreSpace)):
        raise TypeError(f"test must be a LagrangeSpace or a LegendreSpace, not {type(test).__name__!r}")
    if not callable(f):
        raise TypeError(f"f must be callable, not {type(f).__name__!r}")
    rule = _choice(rule, "rule", tuple(RULES))
    if n_points is None:
        n_points = _default_points(test.degree, rule)
    n = _count(n_points, "n_points", minimum=2 if rule == "lobatto" else 1)
    k_begin, k_end = checked_intervals(intervals, test.n_t)
    shared = isinstance(test, LagrangeSpace) and test.continuous
    first = max(k_begin - 1, 0) if shared and k_end > k_begin else k_begin
    if other_points(test) is None:
        # The uniform grid's sub-intervals share their n weights: taken once.
        quadrature = _native.time_quadrature(n, test.n_t, test.T, RULES[rule], first, k_end, True)
        times, weights = (_owned(part, np.float64) for part in quadrature)
    else:
        times, weights = time_quadrature(n, test.grid, rule, intervals=(first, k_end))
    values = np.asarray(f(times))
    if values.dtype.kind not in "biuf":
        raise TypeError(f"f must return real numbers, not an array of {values.dtype}")
    if values.shape[:1] != times.shape:
        raise ValueError(f"f must return an array of shape {times.shape} + trailing, got shape {values.shape}")
    trailing = values.shape[1:]
    count = k_end - first
    columns = math.prod(trailing)
    if columns == 0:
        return np.zeros((_rows(test, k_begin, k_end), *trailing))
    basis = _reference_values(test, reference_nodes(n, rule))
    flat = np.ascontiguousarray(values, dtype=np.float64).reshape(-1)
    sums = _native.load_contraction(weights, flat, columns, basis.reshape(-1), n)
    local = _owned(sums, np.float64).reshape(count, test.degree + 1, columns)
    return _scattered(test, local, first, k_begin, k_end).reshape(-1, *trailing)


def _rows(test: TimeSpace, k_begin: int, k_end: int) -> int:
    if isinstance(test, LagrangeSpace) and test.continuous:
        return (k_end - k_begin) * test.degree + (k_end > k_begin and k_end == test.n_t)
    return (k_end - k_begin) * (test.degree + 1)


def _scattered(test: TimeSpace, local: FloatArray, first: int, k_begin: int, k_end: int) -> FloatArray:
    """The local integrals (sub-intervals first ... k_end - 1) in the rows of [k_begin, k_end)."""
    p = test.degree
    count, _, m = local.shape
    if isinstance(test, LegendreSpace) and not _interval_major(test):
        return np.ascontiguousarray(local.transpose(1, 0, 2))
    if not (isinstance(test, LagrangeSpace) and test.continuous):
        return local
    width = k_end - k_begin
    end = width > 0 and k_end == test.n_t
    out = np.empty((width * p + end, m))
    own = local[k_begin - first :]
    out[: width * p].reshape(width, p, m)[...] = own[:, :p]
    if end:
        out[-1] = own[-1, p]
    # Node t_k gathers sub-interval k - 1's end, then sub-interval k's start.
    skip = 1 if k_begin == 0 else 0
    starts = out[skip * p : width * p : p]
    np.add(local[k_begin - 1 - first + skip : k_end - 1 - first, p], starts, out=starts)
    return out
