"""Time slabs: the local blocks of the time operators on one sub-interval, and their global indices.

A block is cut out of the global builders' own rows, built for the one
sub-interval (two for the jump's upwind half) by the same native path and
from the same step, so its entries are the global entries bit for bit. The
only entries that two sub-intervals share are those of a node that both a
continuous test and a continuous trial space share; there the two blocks
hold parts that, added in slab order, give the global entry.
"""

from __future__ import annotations

from typing import NamedTuple

import numpy as np
import numpy.typing as npt

from . import _native
from ._spaces import LagrangeSpace, LegendreSpace, TimeSpace, _description, _interval_major, other_points
from ._time_operators import _checked_pair, _general
from ._validation import FloatArray, _count

IndexArray = npt.NDArray[np.int64]

_MASS, _DERIVATIVE, _JUMP = 0, 1, 2
_UNIFORM = {
    _MASS: _native.time_mass_matrix,
    _DERIVATIVE: _native.time_derivative_matrix,
    _JUMP: _native.time_jump_matrix,
}


class SlabBlocks(NamedTuple):
    """The time operators' blocks on one sub-interval, and where they go in the global matrices."""

    mass: npt.NDArray[np.float64]
    derivative: npt.NDArray[np.float64]
    jump: npt.NDArray[np.float64]
    jump_previous: npt.NDArray[np.float64]
    test_dofs: npt.NDArray[np.int64]
    trial_dofs: npt.NDArray[np.int64]
    previous_trial_dofs: npt.NDArray[np.int64]


def _dense(parts: tuple[memoryview, memoryview, memoryview, int, int, int]) -> FloatArray:
    data, indices, indptr, index_size, nrows, ncols = parts
    index_dtype = np.int32 if index_size == 4 else np.int64
    columns = np.frombuffer(indices, dtype=index_dtype)
    offsets = np.frombuffer(indptr, dtype=index_dtype)
    out = np.zeros((nrows, ncols), dtype=np.float64)
    out[np.repeat(np.arange(nrows), np.diff(offsets)), columns] = np.frombuffer(data, dtype=np.float64)
    return out


def _local_operator(
    code: int, trial: TimeSpace, test: TimeSpace, points: FloatArray, h: float | None, k_begin: int = 0
) -> FloatArray:
    """The operator of the spaces' kinds on the grid ``points``, by the native path the global builder takes.

    ``h`` is the step of an ``(n_t, T)`` grid (its mass builders read T / n_t,
    not the points), None on a grid of other points.
    """
    n_t = points.size - 1
    k_end = n_t
    if _general(trial) or _general(test):
        return _dense(
            _native.general_time_operator(code, *_description(trial), *_description(test), points, k_begin, k_end)
        )
    # The uniform builders scale the mass by h = T / n_t; derivative and jump read no step.
    T = h if code == _MASS and h is not None else float(n_t)
    grid = points if code == _MASS and h is None else None
    trial_kind = (isinstance(trial, LegendreSpace), trial.degree)
    test_kind = (isinstance(test, LegendreSpace), test.degree)
    if _interval_major(trial) or _interval_major(test):
        return _dense(
            _native.time_operator_in_layout(
                code,
                *trial_kind,
                _interval_major(trial),
                *test_kind,
                _interval_major(test),
                grid,
                n_t,
                T,
                k_begin,
                k_end,
            )
        )
    if grid is not None:
        return _dense(_native.grid_time_mass_matrix(*trial_kind, *test_kind, grid, k_begin, k_end))
    return _dense(_UNIFORM[code](*trial_kind, *test_kind, n_t, T, k_begin, k_end))


def _local_size(space: TimeSpace) -> int:
    return space.degree + 1


def _dofs(space: TimeSpace, k: int) -> IndexArray:
    return _local_columns(space, k, space.n_t)


def _continuous(space: TimeSpace) -> bool:
    return isinstance(space, LagrangeSpace) and space.continuous


def _local_columns(space: TimeSpace, k: int, n_t: int) -> IndexArray:
    """Sub-interval k's functions in the numbering of an ``n_t``-interval grid of the space's kind."""
    local = np.arange(space.degree + 1, dtype=np.int64)
    if isinstance(space, LagrangeSpace):
        return k * (space.degree if space.continuous else space.degree + 1) + local
    if _interval_major(space):
        return k * (space.degree + 1) + local
    return local * n_t + k


def _jump_blocks(trial: TimeSpace, test: TimeSpace, points: FloatArray) -> tuple[FloatArray, FloatArray]:
    """The jump's own block and its upwind block, from a grid of two sub-intervals."""
    two = _local_operator(_JUMP, trial, test, points, None)
    rows = _local_columns(test, 1, 2)
    own_columns = _local_columns(trial, 1, 2)
    previous_columns = _local_columns(trial, 0, 2)
    own = two[np.ix_(rows, own_columns)]
    if _continuous(trial):
        # The shared node's column holds own + upwind = 0: the upwind value is
        # -v_a(t_k+) u_q(t_k-), the negated own value at the first node.
        own = _local_operator(_JUMP, trial, test, points[:2], None)
        previous = np.zeros_like(own)
        previous[:, trial.degree] = -own[:, 0]
        return own, previous
    return own, two[np.ix_(rows, previous_columns)]


def _split_sum(earlier: float, later: float, total: float) -> tuple[float, float]:
    """Two parts within a few ulps of ``earlier`` and ``later`` whose double sum is ``total``.

    The parts themselves where they add up to it; else the nearest pair that
    does. (The earlier part moves too where every sum with it is a tie that
    rounds away from the total.)
    """
    if earlier + later == total:
        return earlier, later
    x = earlier
    for _ in range(8):
        for first in (x, float(np.nextafter(x, np.inf)), float(np.nextafter(x, -np.inf))):
            y = total - first
            for second in (y, float(np.nextafter(y, np.inf)), float(np.nextafter(y, -np.inf))):
                if first + second == total:
                    return first, second
        x = float(np.nextafter(x, np.inf if x < earlier + 1.0 else -np.inf))
    return earlier, later  # pragma: no cover - a neighbouring pair always reaches the total


def _shared_node(trial: TimeSpace, test: TimeSpace, k: int, h: float | None) -> tuple[float, float]:
    """The parts of slabs k - 1 and k at the node t_k that both continuous spaces share."""
    points = test.grid.points
    earlier = float(_local_operator(_MASS, trial, test, points[k - 1 : k + 1], h)[-1, -1])
    later = float(_local_operator(_MASS, trial, test, points[k : k + 2], h)[0, 0])
    return _split_sum(earlier, later, _global_entry(trial, test, k))


def slab_blocks(trial: LagrangeSpace | LegendreSpace, test: LagrangeSpace | LegendreSpace, k: int) -> SlabBlocks:
    """The mass, derivative and jump blocks of sub-interval ``k``, with their global indices.

    A time-stepping code solves on one sub-interval (slab) at a time; these
    are its local matrices, rows the test space's functions on the slab and
    columns the trial space's:

    - ``mass[a, b]``: integral over I_k of u_b v_a;
    - ``derivative[a, b]``: integral over I_k of u_b' v_a;
    - ``jump[a, b]``: v_a(t_k+) u_b(t_k+), and ``jump_previous[a, b]`` the
      upwind half -v_a(t_k+) u_b(t_k-) on the previous slab's trial
      functions (zero columns for k = 0, where u(t_0-) = 0 and the
      initial value goes to the right-hand side).

    Adding every slab's blocks into the global numbering in sub-interval
    order (``M[np.ix_(test_dofs, trial_dofs)] += mass``, and
    ``J[np.ix_(test_dofs, previous_trial_dofs)] += jump_previous``) gives
    :func:`time_mass_matrix`, :func:`time_derivative_matrix` and
    :func:`time_jump_matrix` bit for bit. A row that only sub-interval k
    holds is the global row itself; the end-point rows of a continuous
    test space hold this sub-interval's part. At a node that a continuous
    test and a continuous trial space share, the global mass entry is the
    two slabs' parts summed once; there the earlier slab's ``mass[-1, -1]``
    and the later one's ``mass[0, 0]`` are chosen, each within a few ulps
    of its part rounded alone, so that their sum is that entry (on equal
    steps they are the parts themselves).

    Parameters
    ----------
    trial, test : LagrangeSpace or LegendreSpace
        Spaces on the same grid; kinds, degrees, nodes and layouts may differ.
    k : int
        The sub-interval, ``0 <= k < n_t``.

    Returns
    -------
    SlabBlocks
        Named tuple ``(mass, derivative, jump, jump_previous, test_dofs,
        trial_dofs, previous_trial_dofs)``: float64 arrays of shape
        ``(test.degree + 1, trial.degree + 1)`` (``jump_previous`` with no
        columns for k = 0), and int64 arrays of the global indices of the
        slab's test functions, trial functions and the previous slab's
        trial functions (empty for k = 0).

    Raises
    ------
    TypeError
        If a space is not a space or ``k`` not an integer.
    ValueError
        If the spaces are on different grids or ``k`` is not below ``n_t``.

    See Also
    --------
    reference_blocks : The blocks on [0, 1].
    time_mass_matrix, time_derivative_matrix, time_jump_matrix : The global matrices.
    load_vector : The right-hand side of a slab.

    Notes
    -----
    Costs a few builds of one or two sub-intervals' rows, independent of
    ``n_t``.

    Examples
    --------
    dG(0) on two slabs of lengths 0.25 and 0.75:

    >>> import zelk_arrays as za
    >>> space = za.LegendreSpace(0, za.TimeGrid([0.0, 0.25, 1.0]))
    >>> blocks = za.slab_blocks(space, space, 1)
    >>> blocks.mass, blocks.jump, blocks.jump_previous
    (array([[0.75]]), array([[1.]]), array([[-1.]]))
    >>> blocks.test_dofs, blocks.previous_trial_dofs
    (array([1]), array([0]))
    """
    trial, test = _checked_pair(trial, test)
    k = _count(k, "k")
    if k >= test.n_t:
        raise ValueError(f"k must be below n_t = {test.n_t}, got {k}")
    points = test.grid.points
    uniform = other_points(test) is None
    h = test.T / test.n_t if uniform else None
    local = points[k : k + 2]
    mass = _local_operator(_MASS, trial, test, local, h)
    derivative = _local_operator(_DERIVATIVE, trial, test, local, None)
    if k > 0:
        jump, previous = _jump_blocks(trial, test, points[k - 1 : k + 2])
        previous_dofs = _dofs(trial, k - 1)
    else:
        jump = _local_operator(_JUMP, trial, test, local, None)
        previous = np.zeros((_local_size(test), 0), dtype=np.float64)
        previous_dofs = np.zeros(0, dtype=np.int64)
    if _continuous(trial) and _continuous(test):
        # A node both spaces share: its global entry is the two slabs' parts summed once.
        if k > 0:
            mass[0, 0] = _shared_node(trial, test, k, h)[1]
        if k + 1 < test.n_t:
            mass[-1, -1] = _shared_node(trial, test, k + 1, h)[0]
    return SlabBlocks(mass, derivative, jump, previous, _dofs(test, k), _dofs(trial, k), previous_dofs)


def _global_entry(trial: TimeSpace, test: TimeSpace, k: int) -> float:
    """The global mass entry at the node t_k that both continuous spaces share."""
    from ._time_operators import time_mass_matrix

    rows = time_mass_matrix(trial, test, intervals=(k, k + 1))
    first = rows.indices[rows.indptr[0] : rows.indptr[1]]
    hit = np.flatnonzero(first == k * trial.degree)
    return float(rows.data[rows.indptr[0] + hit[0]]) if hit.size else 0.0


def reference_blocks(trial: LagrangeSpace | LegendreSpace, test: LagrangeSpace | LegendreSpace) -> SlabBlocks:
    """The blocks of :func:`slab_blocks` on the reference interval [0, 1], before scaling by a step.

    ``mass`` is the integral over [0, 1] (a slab's mass block is its step
    times it, each entry rounded once from the exact value); ``derivative``,
    ``jump`` and ``jump_previous`` are every slab's own. Only the spaces'
    kinds, degrees, nodes and layouts matter, not their grid. The index
    fields hold the local numbering ``0 ... degree``.

    Parameters
    ----------
    trial, test : LagrangeSpace or LegendreSpace
        The spaces; their grids need not agree.

    Returns
    -------
    SlabBlocks
        As :func:`slab_blocks` for a slab after the first.

    Raises
    ------
    TypeError
        If a space is not a space.

    See Also
    --------
    slab_blocks : The blocks of one sub-interval of a grid.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> blocks = za.reference_blocks(za.LegendreSpace(1, 4), za.LegendreSpace(1, 4))
    >>> blocks.mass
    array([[1.        , 0.        ],
           [0.        , 0.33333333]])
    >>> blocks.jump_previous
    array([[-1., -1.],
           [ 1.,  1.]])
    """
    for name, space in (("trial", trial), ("test", test)):
        if not isinstance(space, (LagrangeSpace, LegendreSpace)):
            raise TypeError(f"{name} must be a LagrangeSpace or a LegendreSpace, not {type(space).__name__!r}")
    unit = np.array([0.0, 1.0])
    mass = _local_operator(_MASS, trial, test, unit, 1.0)
    derivative = _local_operator(_DERIVATIVE, trial, test, unit, None)
    jump, previous = _jump_blocks(trial, test, np.array([0.0, 1.0, 2.0]))
    test_local = np.arange(_local_size(test), dtype=np.int64)
    trial_local = np.arange(_local_size(trial), dtype=np.int64)
    return SlabBlocks(mass, derivative, jump, previous, test_local, trial_local, trial_local.copy())
