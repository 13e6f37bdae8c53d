"""Time operators of space-time discretisations: mass, derivative and jump matrices, and quadrature."""

from __future__ import annotations

from collections.abc import Callable
from typing import TYPE_CHECKING, Final

import numpy as np

from . import _native
from ._ranges import checked_intervals, register_column_range
from ._results import _csr, _owned
from ._spaces import LagrangeSpace, LegendreSpace, TimeSpace
from ._validation import FloatArray, _count, _end_time

if TYPE_CHECKING:
    from scipy.sparse import csr_array

    from ._results import _CsrParts

_RULES: Final = {"gauss": 0, "radau-left": 1, "radau-right": 2, "lobatto": 3}


def _checked_pair(trial: object, test: object) -> tuple[TimeSpace, TimeSpace]:
    for name, space in (("trial", trial), ("test", test)):
        if not isinstance(space, (LagrangeSpace, LegendreSpace)):
            raise TypeError(f"{name} must be a LagrangeSpace or a LegendreSpace, not {type(space).__name__!r}")
    assert isinstance(trial, (LagrangeSpace, LegendreSpace))
    assert isinstance(test, (LagrangeSpace, LegendreSpace))
    if (trial.n_t, trial.T) != (test.n_t, test.T):
        raise ValueError(
            "trial and test must be on the same grid, got "
            f"n_t={trial.n_t}, T={trial.T!r} and n_t={test.n_t}, T={test.T!r}"
        )
    return trial, test


def _operator(
    native: Callable[[bool, int, bool, int, int, float, int, int], _CsrParts],
    trial: TimeSpace,
    test: TimeSpace,
    intervals: object,
) -> csr_array:
    trial, test = _checked_pair(trial, test)
    k_begin, k_end = checked_intervals(intervals, test.n_t)
    return _csr(
        native(
            isinstance(trial, LegendreSpace),
            trial.degree,
            isinstance(test, LegendreSpace),
            test.degree,
            test.n_t,
            test.T,
            k_begin,
            k_end,
        )
    )


def _operator_columns(trial: TimeSpace, test: TimeSpace, intervals: object, upwind: bool) -> tuple[int, int]:
    trial, test = _checked_pair(trial, test)
    k_begin, k_end = checked_intervals(intervals, test.n_t)
    if k_begin == k_end:
        return 0, 0
    # A shared Lagrange test node reaches one sub-interval back, the upwind value one more.
    first = max(k_begin - isinstance(test, LagrangeSpace) - upwind, 0)
    last = k_end - 1
    degree = trial.degree
    if isinstance(trial, LagrangeSpace):
        return first * degree, (last + 1) * degree + 1
    return first, degree * trial.n_t + last + 1


def time_mass_matrix(
    trial: LagrangeSpace | LegendreSpace, test: LagrangeSpace | LegendreSpace, *, intervals: tuple[int, int] | range | None = None
) -> csr_array:
    r"""The time mass matrix ``M[i, j]``, the integral over [0, T] of ``phi_j v_i``.

    Parameters
    ----------
    trial : LagrangeSpace or LegendreSpace
        The trial space: the space of the unknown ``u = sum_j u_j phi_j``.
        Its basis functions ``phi_j`` number the **columns**, ``trial.dim``
        of them.
    test : LagrangeSpace or LegendreSpace
        The test space: the space of the test functions ``v_i``. They number
        the **rows**, ``test.dim`` of them (fewer with ``intervals``). It must
        be on the grid of ``trial`` (equal ``n_t`` and ``T``); the kinds and
        degrees may differ.
    intervals : tuple of two ints or range, optional
        ``(k_begin, k_end)`` or ``range(k_begin, k_end)``: build only the rows
        that the test space's sub-intervals ``k_begin <= k < k_end`` own, in
        global order, with global column numbers (see :func:`column_range`
        and the tutorial's row ranges). Default: all rows.

    Returns
    -------
    scipy.sparse.csr_array
        float64, shape ``(n_rows, trial.dim)`` with ``n_rows = test.dim`` for
        all rows. Entries of different sub-intervals are never stored, nor
        are entries whose exact value is zero.

    Raises
    ------
    TypeError
        If ``trial`` or ``test`` is not a :class:`LagrangeSpace` or
        :class:`LegendreSpace`, or ``intervals`` is neither a pair of
        integers nor a range.
    ValueError
        If the spaces are on different grids, or ``intervals`` is out of
        ``0 <= k_begin <= k_end <= test.n_t`` or a range whose step is not 1.
    MemoryError
        If the matrix does not fit in memory; the message says how many
        bytes were requested.

    See Also
    --------
    time_derivative_matrix, time_jump_matrix : The other two time operators.
    time_quadrature : Quadrature rules on the same grid, for variable coefficients.
    column_range : The columns a range of rows touches.

    Notes
    -----
    .. math::

       M_{ij} = \int_0^T \varphi_j(t)\, v_i(t)\, \mathrm{d}t .

    Entries are the exact integrals, rounded to doubles; they scale with the
    step ``h = T / n_t``. With the same Legendre space on both sides the
    matrix is diagonal.

    Every entry is computed from the reference-interval integrals, which
    are worked out once per call at a cost that grows with the product of
    the two degrees; the fill then takes time proportional to the number of
    stored entries, at most ``(trial.degree + 1) * (test.degree + 1)`` per
    sub-interval. Each stored entry takes
    12 bytes (16 where the indices need int64), plus 4 or 8 bytes per row.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> nodal = za.LagrangeSpace(1, 2, T=12.0)     # h = 6, so the entries are whole numbers
    >>> za.time_mass_matrix(nodal, nodal).toarray()
    array([[2., 1., 0.],
           [1., 4., 1.],
           [0., 1., 2.]])

    Rows follow the test space, columns the trial space:

    >>> modal = za.LegendreSpace(0, 2, T=12.0)
    >>> za.time_mass_matrix(nodal, modal).toarray()
    array([[3., 3., 0.],
           [0., 3., 3.]])
    >>> za.time_mass_matrix(nodal, modal, intervals=(1, 2)).toarray()
    array([[0., 3., 3.]])
    """
    return _operator(_native.time_mass_matrix, trial, test, intervals)


def time_derivative_matrix(
    trial: LagrangeSpace | LegendreSpace, test: LagrangeSpace | LegendreSpace, *, intervals: tuple[int, int] | range | None = None
) -> csr_array:
    r"""The derivative matrix ``D[i, j]``, the sum over sub-intervals of the integrals of ``phi_j' v_i``.

    For a continuous trial space this is the integral of ``phi_j' v_i`` over
    [0, T]. For a discontinuous one the jumps between sub-intervals are left
    out: add :func:`time_jump_matrix`.

    Parameters
    ----------
    trial : LagrangeSpace or LegendreSpace
        The trial space: the space of the unknown ``u = sum_j u_j phi_j``.
        Its basis functions ``phi_j`` number the **columns**, ``trial.dim``
        of them.
    test : LagrangeSpace or LegendreSpace
        The test space: the space of the test functions ``v_i``. They number
        the **rows**, ``test.dim`` of them (fewer with ``intervals``). It must
        be on the grid of ``trial`` (equal ``n_t`` and ``T``); the kinds and
        degrees may differ.
    intervals : tuple of two ints or range, optional
        ``(k_begin, k_end)`` or ``range(k_begin, k_end)``: build only the rows
        that the test space's sub-intervals ``k_begin <= k < k_end`` own, in
        global order, with global column numbers (see :func:`column_range`
        and the tutorial's row ranges). Default: all rows.

    Returns
    -------
    scipy.sparse.csr_array
        float64, shape ``(n_rows, trial.dim)`` with ``n_rows = test.dim`` for
        all rows. Entries of different sub-intervals are never stored, nor
        are entries whose exact value is zero.

    Raises
    ------
    TypeError
        If ``trial`` or ``test`` is not a :class:`LagrangeSpace` or
        :class:`LegendreSpace`, or ``intervals`` is neither a pair of
        integers nor a range.
    ValueError
        If the spaces are on different grids, or ``intervals`` is out of
        ``0 <= k_begin <= k_end <= test.n_t`` or a range whose step is not 1.
    MemoryError
        If the matrix does not fit in memory; the message says how many
        bytes were requested.

    See Also
    --------
    time_jump_matrix : The upwind jumps that complete discontinuous Galerkin.
    time_mass_matrix : The mass matrix on the same pair of spaces.
    column_range : The columns a range of rows touches.

    Notes
    -----
    .. math::

       D_{ij} = \sum_{k=0}^{n_t - 1} \int_{I_k} \varphi_j'(t)\, v_i(t)\, \mathrm{d}t .

    The entries do not depend on ``T``: the derivative's factor ``1 / h``
    cancels the integral's ``h``.

    Every entry is computed from the reference-interval integrals, which
    are worked out once per call at a cost that grows with the product of
    the two degrees; the fill then takes time proportional to the number of
    stored entries, at most ``(trial.degree + 1) * (test.degree + 1)`` per
    sub-interval. Each stored entry takes
    12 bytes (16 where the indices need int64), plus 4 or 8 bytes per row.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> dg = za.LegendreSpace(1, 2)
    >>> D = za.time_derivative_matrix(dg, dg)
    >>> D.toarray()
    array([[0., 0., 2., 0.],
           [0., 0., 0., 2.],
           [0., 0., 0., 0.],
           [0., 0., 0., 0.]])
    >>> D.nnz                   # exact zeros are not stored
    2
    """
    return _operator(_native.time_derivative_matrix, trial, test, intervals)


def time_jump_matrix(
    trial: LagrangeSpace | LegendreSpace, test: LagrangeSpace | LegendreSpace, *, intervals: tuple[int, int] | range | None = None
) -> csr_array:
    r"""The upwind jump matrix ``J[i, j]``, the sum over k of ``v_i(t_k+) (phi_j(t_k+) - phi_j(t_k-))``.

    ``t_k = k * T / n_t`` for ``k = 0 ... n_t - 1`` and ``u(0-) = 0``: the
    first term is ``v_i(0+) phi_j(0+)``, so the initial value goes to the
    right-hand side. For a continuous trial space every other jump vanishes.
    Together with :func:`time_derivative_matrix` on the same
    :class:`LegendreSpace` it makes discontinuous Galerkin in time.

    Parameters
    ----------
    trial : LagrangeSpace or LegendreSpace
        The trial space: the space of the unknown ``u = sum_j u_j phi_j``.
        Its basis functions ``phi_j`` number the **columns**, ``trial.dim``
        of them.
    test : LagrangeSpace or LegendreSpace
        The test space: the space of the test functions ``v_i``. They number
        the **rows**, ``test.dim`` of them (fewer with ``intervals``). It must
        be on the grid of ``trial`` (equal ``n_t`` and ``T``); the kinds and
        degrees may differ.
    intervals : tuple of two ints or range, optional
        ``(k_begin, k_end)`` or ``range(k_begin, k_end)``: build only the rows
        that the test space's sub-intervals ``k_begin <= k < k_end`` own, in
        global order, with global column numbers (see :func:`column_range`
        and the tutorial's row ranges). Default: all rows.

    Returns
    -------
    scipy.sparse.csr_array
        float64, shape ``(n_rows, trial.dim)`` with ``n_rows = test.dim`` for
        all rows. Entries of different sub-intervals are never stored, nor
        are entries whose exact value is zero.

    Raises
    ------
    TypeError
        If ``trial`` or ``test`` is not a :class:`LagrangeSpace` or
        :class:`LegendreSpace`, or ``intervals`` is neither a pair of
        integers nor a range.
    ValueError
        If the spaces are on different grids, or ``intervals`` is out of
        ``0 <= k_begin <= k_end <= test.n_t`` or a range whose step is not 1.
    MemoryError
        If the matrix does not fit in memory; the message says how many
        bytes were requested.

    See Also
    --------
    time_derivative_matrix : The derivative within the sub-intervals.
    time_mass_matrix : The mass matrix on the same pair of spaces.
    column_range : The columns a range of rows touches.

    Notes
    -----
    .. math::

       J_{ij} = \sum_{k=0}^{n_t - 1} v_i(t_k^+) \bigl(\varphi_j(t_k^+) - \varphi_j(t_k^-)\bigr),
       \qquad \varphi_j(0^-) = 0 .

    The initial value ``u0`` enters the right-hand side as ``u0 * v_i(0+)``.
    The entries are products of basis values at the ends of sub-intervals,
    each ``1`` or ``-1``: exact, and independent of ``T``.

    The fill takes time proportional to the number of stored entries, at
    most ``(trial.degree + 1) * (test.degree + 1)`` per
    sub-interval, twice that with a discontinuous trial space, whose jump
    also reads the sub-interval before. Each stored entry takes
    12 bytes (16 where the indices need int64), plus 4 or 8 bytes per row.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> dg0 = za.LegendreSpace(0, 3)        # piecewise constants: implicit Euler
    >>> za.time_jump_matrix(dg0, dg0).toarray()
    array([[ 1.,  0.,  0.],
           [-1.,  1.,  0.],
           [ 0., -1.,  1.]])
    """
    return _operator(_native.time_jump_matrix, trial, test, intervals)


@register_column_range(time_mass_matrix)
def _mass_columns(trial: TimeSpace, test: TimeSpace, *, intervals: object = None) -> tuple[int, int]:
    return _operator_columns(trial, test, intervals, upwind=False)


@register_column_range(time_derivative_matrix)
def _derivative_columns(trial: TimeSpace, test: TimeSpace, *, intervals: object = None) -> tuple[int, int]:
    return _operator_columns(trial, test, intervals, upwind=False)


@register_column_range(time_jump_matrix)
def _jump_columns(trial: TimeSpace, test: TimeSpace, *, intervals: object = None) -> tuple[int, int]:
    return _operator_columns(trial, test, intervals, upwind=True)


def time_quadrature(
    n_points: int, n_t: int, T: float, rule: str = "gauss"
) -> tuple[FloatArray, FloatArray]:
    """A quadrature rule copied onto each of the ``n_t`` sub-intervals of [0, T].

    Parameters
    ----------
    n_points : int
        Points per sub-interval: at least 1, at least 2 for ``"lobatto"``.
    n_t : int
        Number of equal sub-intervals, at least 1.
    T : float
        End of the time interval, positive and finite.
    rule : {"gauss", "radau-right", "radau-left", "lobatto"}
        Gauss-Legendre; Gauss-Radau with the right or the left end of each
        sub-interval; Gauss-Lobatto with both ends.

    Returns
    -------
    times, weights : numpy.ndarray
        float64 arrays of ``n_t * n_points`` values, sub-interval by
        sub-interval and ascending within each; every one within 2 ulps of
        the exact node or weight. ``weights @ f(times)``
        integrates polynomials of degree ``2 n - 1`` (Gauss), ``2 n - 2``
        (Radau) or ``2 n - 3`` (Lobatto) on each sub-interval exactly.

    Raises
    ------
    TypeError
        If ``rule`` is not a string, a count is not an integer (bool is not
        one), or ``T`` is not a real number.
    ValueError
        If ``rule`` is unknown, ``n_points`` or ``n_t`` too small (negative
        included), or ``T`` not positive and finite or ``T / n_t`` not a
        normal double.
    OverflowError
        If a count exceeds 2**63 - 1, or ``n_t * n_points`` exceeds the
        address space.
    MemoryError
        If the arrays do not fit in memory; the message says how many bytes
        were requested.

    See Also
    --------
    time_mass_matrix : The exact integrals of products of basis functions.
    get_lagrange_points : The equidistant nodes of the nodal description.

    Notes
    -----
    The nodes and weights on the reference interval are computed once, at a
    cost that grows with the square of ``n_points``; copying them onto the
    sub-intervals takes time proportional to the ``n_t * n_points`` values,
    16 bytes each for the two arrays. Radau and Lobatto rules include ends of
    the sub-intervals, so neighbouring sub-intervals of a Lobatto rule both
    hold their shared end.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> times, weights = za.time_quadrature(1, 4, 2.0)      # the midpoint rule
    >>> times, weights
    (array([0.25, 0.75, 1.25, 1.75]), array([0.5, 0.5, 0.5, 0.5]))
    >>> times, weights = za.time_quadrature(2, 2, 1.0, "lobatto")  # the trapezoidal rule
    >>> times
    array([0. , 0.5, 0.5, 1. ])
    >>> times, weights = za.time_quadrature(3, 5, 1.0)      # exact for degree 5 on each sub-interval
    >>> round(float(weights @ times**5), 12)
    0.166666666667
    """
    if not isinstance(rule, str):
        raise TypeError(f"rule must be a string, not {type(rule).__name__!r}")
    try:
        code = _RULES[rule]
    except KeyError:
        raise ValueError(f"rule must be one of {', '.join(map(repr, _RULES))}, got {rule!r}") from None
    n_points = _count(n_points, "n_points", minimum=2 if rule == "lobatto" else 1)
    n_t = _count(n_t, "n_t", minimum=1)
    T = _end_time(T, n_t)  # noqa: N806 - the grid's own name
    times, weights = _native.time_quadrature(n_points, n_t, T, code)
    return _owned(times, np.float64), _owned(weights, np.float64)
