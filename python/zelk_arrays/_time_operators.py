"""Time operators of space-time discretisations: mass, derivative and jump matrices, and quadrature."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Final, overload

import numpy as np
import numpy.typing as npt

from . import _native
from ._grid import TimeGrid, is_uniform_from_zero
from ._nodes import rule_code
from ._preallocation import _column_block, built_counts, native_counts, register_counts
from ._ranges import checked_intervals, register_column_range
from ._results import _csr, _owned
from ._spaces import (
    LagrangeSpace,
    LegendreSpace,
    TimeSpace,
    _description,
    checked_spaces,
    grid_description,
    other_points,
    same_grid,
)
from ._spaces import _interval_major as _interval_major  # re-exported: _loads reads it from here
from ._validation import _count, _end_time, _float_array, _index_width

if TYPE_CHECKING:
    from scipy.sparse import csr_array

    from ._validation import FloatArray


def _checked_pair(trial: object, test: object) -> tuple[TimeSpace, TimeSpace]:
    trial, test = checked_spaces(trial=trial, test=test)
    if not same_grid(trial, test):
        raise ValueError(
            f"trial and test must be on the same grid, got {grid_description(trial)} and {grid_description(test)}"
        )
    return trial, test


def _operator_call(
    op: int, trial: TimeSpace, test: TimeSpace, intervals: object, index_dtype: object
) -> tuple[str, tuple[object, ...]]:
    """The native builder of operator ``op`` (0 mass, 1 derivative, 2 jump) for these spaces, by name, and its
    arguments, the arguments checked first: the build and preallocation's count pass read them alike."""
    trial, test = _checked_pair(trial, test)
    k_begin, k_end = checked_intervals(intervals, test.n_t)
    _index_width(index_dtype)
    trial_kind = (isinstance(trial, LegendreSpace), trial.degree)
    test_kind = (isinstance(test, LegendreSpace), test.degree)
    points = other_points(test)
    # Derivative and jump entries do not depend on the steps: those of any uniform grid serve every grid.
    n_t, T = test.n_t, (test.T if points is None else 1.0)
    if op != 0:
        points = None
    if _general(trial) or _general(test):
        return "general_time_operator", (
            op,
            *_description(trial),
            *_description(test),
            test.grid.points,
            k_begin,
            k_end,
        )
    if _interval_major(trial) or _interval_major(test):
        return "time_operator_in_layout", (
            op,
            *trial_kind,
            _interval_major(trial),
            *test_kind,
            _interval_major(test),
            points,
            n_t,
            T,
            k_begin,
            k_end,
        )
    if points is not None:
        return "grid_time_mass_matrix", (*trial_kind, *test_kind, points, k_begin, k_end)
    return _UNIFORM[op], (*trial_kind, *test_kind, n_t, T, k_begin, k_end)


# The builders of uniform grids, one per operator; their count pass is one, told the operator.
_UNIFORM: Final = ("time_mass_matrix", "time_derivative_matrix", "time_jump_matrix")


def _operator(op: int, trial: TimeSpace, test: TimeSpace, intervals: object, index_dtype: object) -> csr_array:
    name, args = _operator_call(op, trial, test, intervals, index_dtype)
    return _csr(getattr(_native, name)(*args), index_dtype)


def _operator_counts(
    op: int, trial: TimeSpace, test: TimeSpace, intervals: object, columns: object, index_dtype: object
) -> tuple[npt.NDArray[Any], npt.NDArray[Any]]:
    """preallocation's counts for operator ``op``: the rows' patterns counted, the piece never written."""
    name, args = _operator_call(op, trial, test, intervals, index_dtype)
    c_begin, c_end = _column_block(columns, trial.dim)
    # The uniform builders share one count pass, told the operator; each other builder has its own.
    uniform = name in _UNIFORM
    counter = getattr(_native, "time_operator_counts" if uniform else name + "_counts")
    counts = counter(*((op,) if uniform else ()), *args, c_begin, c_end)
    return native_counts(counts, _index_width(index_dtype))


def _general(space: TimeSpace) -> bool:
    """Whether a space is beyond the uniform builders: Lagrange on other nodes, or discontinuous."""
    return isinstance(space, LagrangeSpace) and (space.nodes != "equispaced" or not space.continuous)


def _operator_columns(trial: TimeSpace, test: TimeSpace, intervals: object, upwind: bool) -> tuple[int, int]:
    trial, test = _checked_pair(trial, test)
    k_begin, k_end = checked_intervals(intervals, test.n_t)
    if k_begin == k_end:
        return 0, 0
    # A shared Lagrange test node reaches one sub-interval back, the upwind value one more.
    first = max(k_begin - (isinstance(test, LagrangeSpace) and test.continuous) - upwind, 0)
    last = k_end - 1
    degree = trial.degree
    if isinstance(trial, LagrangeSpace):
        if not trial.continuous:
            return first * (degree + 1), (last + 1) * (degree + 1)
        return first * degree, (last + 1) * degree + 1
    if _interval_major(trial):
        return first * (degree + 1), (last + 1) * (degree + 1)
    return first, degree * trial.n_t + last + 1


_OPERATOR_DOC: Final = """
    Parameters
    ----------
    trial : LagrangeSpace or LegendreSpace
        The trial space: the space of the unknown ``u = sum_j u_j phi_j``.
        Its basis functions ``phi_j`` number the **columns**, ``trial.dim``
        of them.
    test : LagrangeSpace or LegendreSpace
        The test space: the space of the test functions ``v_i``. They number
        the **rows**, ``test.dim`` of them (fewer with ``intervals``). It must
        be on the grid of ``trial`` (equal ``n_t``, ``T`` and points); the
        kinds and degrees may differ. On a
        :class:`TimeGrid` of any points, each mass entry is the exact
        integral rounded once (the reference integral times the steps
        ``t_{k+1} - t_k`` taken exactly); the derivative and jump entries
        do not depend on the steps.
    intervals : tuple of two ints or range, optional
        ``(k_begin, k_end)`` or ``range(k_begin, k_end)``: build only the
        rows that the test space's sub-intervals ``k_begin <= k < k_end``
        own (see :func:`column_range`). Default: all rows.
    index_dtype : numpy.int32, numpy.int64 or None, optional
        The index type of the result; None (the default) takes int32 where
        every index and size fits, as scipy does, else int64. int32 for a
        matrix it cannot index is an OverflowError naming the largest index.

    Returns
    -------
    scipy.sparse.csr_array
        float64, shape ``(n_rows, trial.dim)`` with ``n_rows = test.dim`` for
        all rows. Entries of different sub-intervals are never stored, nor
        are entries whose exact value is zero.

    Raises
    ------
    TypeError
        If ``trial`` or ``test`` is not a space, or ``intervals`` neither a
        pair of integers nor a range.
    ValueError
        If the spaces are on different grids, or ``intervals`` is out of
        range or has a step other than 1.
    OverflowError
        If entries lie beyond the double range, as they do for equidistant
        Lagrange spaces against each other from degree 535 (mass) or 529
        (derivative) on; the message names the degrees.
    MemoryError
        If the matrix does not fit in memory; the message says how many
        bytes were requested.

    See Also
    --------
    time_mass_matrix, time_derivative_matrix, time_jump_matrix : The three time operators.
    time_quadrature : Quadrature rules on the same grid, for variable coefficients.
    column_range : The columns a range of rows touches.

    Notes
    -----
    The fill takes time proportional to the number of stored entries, at
    most ``(trial.degree + 1) * (test.degree + 1)`` per sub-interval (twice
    that for the jump matrix of a discontinuous trial space), 12 bytes each
    (16 where the indices need int64), plus 4 or 8 bytes per row. The
    operator formulas in rendered maths are on the time operators page.
"""


def time_mass_matrix(
    trial: LagrangeSpace | LegendreSpace,
    test: LagrangeSpace | LegendreSpace,
    *,
    intervals: tuple[int, int] | range | None = None,
    weight: object = None,
    index_dtype: object = None,
) -> csr_array:
    """The time mass matrix M[i, j] = integral over the grid of u_j v_i dt, or of w u_j v_i dt.

    ``weight``, optional: a piecewise polynomial w on the spaces' grid, an
    object with a ``space`` (a :class:`LagrangeSpace` or
    :class:`LegendreSpace`) and its ``coefficients`` (``space.dim`` real
    numbers), or a :class:`LegendreExpansion` of one column. Each entry is
    then the exact integral of w u_j v_i (a Gauss rule exact for the three
    degrees together, summed in double-double), rounded once; entries that
    vanish for this weight are not stored. A weight on another grid is a
    ValueError, one of another type a TypeError.
    """
    if weight is not None:
        return _weighted_mass(trial, test, weight, intervals, index_dtype)
    return _operator(0, trial, test, intervals, index_dtype)


def _weight_parts(weight: object) -> tuple[TimeSpace, object]:
    """The weight's space and coefficients: an expansion on a space, or a LegendreExpansion."""
    from ._expansion import LegendreExpansion

    if isinstance(weight, LegendreExpansion):
        return LegendreSpace(weight.degree, weight.n_t, weight.T), weight.coefficients
    space = getattr(weight, "space", None)
    if not isinstance(space, (LagrangeSpace, LegendreSpace)) or not hasattr(weight, "coefficients"):
        raise TypeError(
            "weight must be an expansion with a space and coefficients, or a LegendreExpansion, "
            f"not {type(weight).__name__!r}"
        )
    return space, weight.coefficients


def _weighted_mass(
    trial: TimeSpace, test: TimeSpace, weight: object, intervals: object, index_dtype: object
) -> csr_array:
    trial, test = _checked_pair(trial, test)
    space, values = _weight_parts(weight)
    if not same_grid(space, test):
        raise ValueError(
            f"the weight must be on the spaces' grid, got {grid_description(space)} and {grid_description(test)}"
        )
    coefficients = _float_array(values, "the weight's coefficients")
    if coefficients.shape != (space.dim,):
        raise ValueError(f"the weight needs {space.dim} coefficients, got shape {coefficients.shape}")
    k_begin, k_end = checked_intervals(intervals, test.n_t)
    _index_width(index_dtype)  # before a build that may be large
    # The uniform builders' step T / n_t, so that a weight of 1 gives their bits; else the grid's steps.
    uniform = other_points(test) is None and not (_general(trial) or _general(test))
    step = test.T / test.n_t if uniform else 0.0
    return _csr(
        _native.weighted_time_mass_matrix(
            *_description(trial),
            *_description(test),
            *_description(space),
            coefficients,
            test.grid.points,
            step,
            k_begin,
            k_end,
        ),
        index_dtype,
    )


def time_derivative_matrix(
    trial: LagrangeSpace | LegendreSpace,
    test: LagrangeSpace | LegendreSpace,
    *,
    intervals: tuple[int, int] | range | None = None,
    index_dtype: object = None,
) -> csr_array:
    """The derivative matrix D[i, j] = sum over sub-intervals I_k of the integral over I_k of u_j' v_i dt.

    For a continuous trial space this is the integral of u_j' v_i over [0, T].
    """
    return _operator(1, trial, test, intervals, index_dtype)


def time_jump_matrix(
    trial: LagrangeSpace | LegendreSpace,
    test: LagrangeSpace | LegendreSpace,
    *,
    intervals: tuple[int, int] | range | None = None,
    index_dtype: object = None,
) -> csr_array:
    """The upwind jump matrix J[i, j] = sum over k of v_i(t_k+) (u_j(t_k+) - u_j(t_k-)).

    ``t_k`` the grid's points (``k * T / n_t`` on a uniform grid) for
    ``k = 0 ... n_t - 1`` and ``u(t_0-) = 0``: the first term is
    ``v_i(t_0+) u_j(t_0+)``, so the initial value goes to the
    right-hand side. For a continuous trial space every other jump vanishes.
    Together with :func:`time_derivative_matrix` on the same
    :class:`LegendreSpace` it makes discontinuous Galerkin in time.
    """
    return _operator(2, trial, test, intervals, index_dtype)


# Each builder's own examples follow the shared sections, in numpy's order.
_EXAMPLES: Final = {
    time_mass_matrix: """
    Piecewise constants on two sub-intervals of lengths 0.25 and 0.75:

    >>> import zelk_arrays as za
    >>> space = za.LegendreSpace(0, za.TimeGrid([0.0, 0.25, 1.0]))
    >>> za.time_mass_matrix(space, space).toarray()
    array([[0.25, 0.  ],
           [0.  , 0.75]])

    With the weight w(t) = t = (P_0 + P_1(2 t - 1)) / 2 on [0, 1], dG(1):

    >>> linear = za.LegendreSpace(1, 1)
    >>> w = za.LegendreExpansion(1, 1, 1.0, [0.5, 0.5])
    >>> za.time_mass_matrix(linear, linear, weight=w).toarray()
    array([[0.5       , 0.16666667],
           [0.16666667, 0.16666667]])
""",
    time_derivative_matrix: """
    Continuous piecewise linears tested with piecewise constants (cG(1)):
    row k is the difference of sub-interval k's end values.

    >>> import zelk_arrays as za
    >>> grid = za.TimeGrid([0.0, 0.5, 1.0])
    >>> za.time_derivative_matrix(za.LagrangeSpace(1, grid), za.LegendreSpace(0, grid)).toarray()
    array([[-1.,  1.,  0.],
           [ 0., -1.,  1.]])
""",
    time_jump_matrix: """
    dG(0): the jump couples each sub-interval to the one before it, and the
    first row holds the initial value's term ``v_0(t_0+) u_0(t_0+)``.

    >>> import zelk_arrays as za
    >>> space = za.LegendreSpace(0, za.TimeGrid([0.0, 0.5, 1.0]))
    >>> za.time_jump_matrix(space, space).toarray()
    array([[ 1.,  0.],
           [-1.,  1.]])
""",
}
for _builder, _examples in _EXAMPLES.items():
    _builder.__doc__ = (_builder.__doc__ or "") + "\n" + _OPERATOR_DOC + "\n    Examples\n    --------" + _examples


@register_column_range(time_mass_matrix)
def _mass_columns(
    trial: TimeSpace, test: TimeSpace, *, intervals: object = None, weight: object = None
) -> tuple[int, int]:
    return _operator_columns(trial, test, intervals, upwind=False)


@register_column_range(time_derivative_matrix)
def _derivative_columns(trial: TimeSpace, test: TimeSpace, *, intervals: object = None) -> tuple[int, int]:
    return _operator_columns(trial, test, intervals, upwind=False)


@register_column_range(time_jump_matrix)
def _jump_columns(trial: TimeSpace, test: TimeSpace, *, intervals: object = None) -> tuple[int, int]:
    return _operator_columns(trial, test, intervals, upwind=True)


@register_counts(time_mass_matrix)
def _mass_counts(
    trial: TimeSpace,
    test: TimeSpace,
    *,
    intervals: tuple[int, int] | range | None = None,
    columns: object,
    weight: object = None,
    index_dtype: object = None,
) -> tuple[npt.NDArray[Any], npt.NDArray[Any]]:
    if weight is not None:
        # A weight's zeros fall anywhere: its entries are formed to see them, so it is built and counted.
        return built_counts(
            time_mass_matrix(trial, test, intervals=intervals, weight=weight, index_dtype=index_dtype), columns
        )
    return _operator_counts(0, trial, test, intervals, columns, index_dtype)


@register_counts(time_derivative_matrix)
def _derivative_counts(
    trial: TimeSpace, test: TimeSpace, *, intervals: object = None, columns: object, index_dtype: object = None
) -> tuple[npt.NDArray[Any], npt.NDArray[Any]]:
    return _operator_counts(1, trial, test, intervals, columns, index_dtype)


@register_counts(time_jump_matrix)
def _jump_counts(
    trial: TimeSpace, test: TimeSpace, *, intervals: object = None, columns: object, index_dtype: object = None
) -> tuple[npt.NDArray[Any], npt.NDArray[Any]]:
    return _operator_counts(2, trial, test, intervals, columns, index_dtype)


_UNSET: Final = object()


@overload
def time_quadrature(
    n_points: int, n_t: TimeGrid, T: str = ..., *, intervals: tuple[int, int] | range | None = ...
) -> tuple[FloatArray, FloatArray]: ...
@overload
def time_quadrature(
    n_points: int, n_t: TimeGrid, *, rule: str, intervals: tuple[int, int] | range | None = ...
) -> tuple[FloatArray, FloatArray]: ...
@overload
def time_quadrature(
    n_points: int, n_t: int, T: float, rule: str = ..., *, intervals: tuple[int, int] | range | None = ...
) -> tuple[FloatArray, FloatArray]: ...
def time_quadrature(
    n_points: int,
    n_t: int | TimeGrid,
    T: object = _UNSET,
    rule: object = _UNSET,
    *,
    intervals: tuple[int, int] | range | None = None,
) -> tuple[FloatArray, FloatArray]:
    """A quadrature rule copied onto each of the ``n_t`` sub-intervals of [0, T].

    Parameters
    ----------
    n_points : int
        Points per sub-interval: at least 1, at least 2 for ``"lobatto"``.
    n_t : int or TimeGrid
        Number of equal sub-intervals of [0, T], at least 1; or a grid, in
        place of ``n_t`` and ``T``: then the rule follows the grid, as in
        ``time_quadrature(3, grid, "lobatto")``.
    T : float
        End of the time interval, positive and finite (not with a grid).
    rule : {"gauss", "radau-right", "radau-left", "lobatto"}
        Gauss-Legendre (the default); Gauss-Radau with the right or the left
        end of each sub-interval; Gauss-Lobatto with both ends.
    intervals : tuple of two ints or range, optional
        ``(k_begin, k_end)``: only the points of sub-intervals
        ``k_begin <= k < k_end``, bit for bit the same entries of the whole
        result (so a distributed caller never shifts times). Default: all.

    Returns
    -------
    times, weights : numpy.ndarray
        float64 arrays of ``n_t * n_points`` values (``(k_end - k_begin) *
        n_points`` with ``intervals``), sub-interval by
        sub-interval and ascending within each; every one within 2 ulps of
        the exact node or weight. ``weights @ f(times)``
        integrates polynomials of degree ``2 n - 1`` (Gauss), ``2 n - 2``
        (Radau) or ``2 n - 3`` (Lobatto) on each sub-interval exactly. On
        a grid, the doubles nearest to ``t_k + h_k (x + 1) / 2`` and
        ``h_k w / 2`` for ``h_k = t_{k+1} - t_k`` exactly; on a uniform grid
        from 0 the same bits as the ``(n_t, T)`` form.

    Raises
    ------
    TypeError
        If ``rule`` is not a string, a count is not an integer (bool is not
        one), or ``T`` or ``rule`` is given twice.
    ValueError
        If ``rule`` is unknown, ``n_points`` or ``n_t`` too small (negative
        included), ``T`` not positive and finite or ``T / n_t`` not a
        normal double, or ``intervals`` out of range.
    OverflowError
        If a count exceeds 2**63 - 1, or ``n_t * n_points`` exceeds the
        address space.

    See Also
    --------
    TimeGrid : Grids of any points.
    reference_nodes, collocation_matrices : The rule on the reference interval and its integration matrices.
    time_mass_matrix : The exact integrals of products of basis functions.

    Notes
    -----
    The rule on [-1, 1] is computed once per call; the result takes
    ``16 * n_t * n_points`` bytes, written in one pass.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> times, weights = za.time_quadrature(1, za.TimeGrid([1.0, 2.0, 4.0]))
    >>> times, weights
    (array([1.5, 3. ]), array([1., 2.]))
    >>> za.time_quadrature(1, za.TimeGrid([1.0, 2.0, 4.0]), intervals=(1, 2))
    (array([3.]), array([2.]))
    """
    if isinstance(n_t, TimeGrid):
        if T is not _UNSET:
            if rule is not _UNSET:
                raise TypeError("time_quadrature takes a grid and a rule, not also T")
            rule = T
        return _grid_quadrature(n_points, n_t, "gauss" if rule is _UNSET else rule, intervals)
    if T is _UNSET:
        raise TypeError("time_quadrature needs T after n_t, or a TimeGrid in place of both")
    if rule is _UNSET:
        rule = "gauss"
    code = rule_code(rule)
    n_points = _count(n_points, "n_points", minimum=2 if rule == "lobatto" else 1)
    n_t = _count(n_t, "n_t", minimum=1)
    T = _end_time(T, n_t)
    k_begin, k_end = checked_intervals(intervals, n_t)
    times, weights = _native.time_quadrature(n_points, n_t, T, code, k_begin, k_end)
    return _owned(times, np.float64), _owned(weights, np.float64)


def _grid_quadrature(
    n_points: object, grid: TimeGrid, rule: object, intervals: object
) -> tuple[FloatArray, FloatArray]:
    code = rule_code(rule)
    n_points = _count(n_points, "n_points", minimum=2 if rule == "lobatto" else 1)
    k_begin, k_end = checked_intervals(intervals, grid.n_t)
    if is_uniform_from_zero(grid):
        times, weights = _native.time_quadrature(n_points, grid.n_t, grid.end, code, k_begin, k_end)
    elif k_begin == k_end:
        return np.zeros(0), np.zeros(0)
    else:
        # Each sub-interval's points depend on its own two ends only.
        times, weights = _native.grid_quadrature(n_points, grid.points[k_begin : k_end + 1], code)
    return _owned(times, np.float64), _owned(weights, np.float64)
