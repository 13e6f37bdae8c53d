"""Which rows a rank owns: PETSc's split of a count among ranks, and the rows of a range of sub-intervals."""

from __future__ import annotations

from ._layouts import INTERVAL_MAJOR
from ._ranges import checked_intervals
from ._spaces import LagrangeSpace, LegendreSpace
from ._validation import _count


def ownership(n: int, size: int, rank: int) -> tuple[int, int]:
    """The range ``[begin, end)`` of ``n`` items that rank ``rank`` of ``size`` owns, as PETSc splits them.

    Every rank gets ``n // size`` items and the first ``n % size`` ranks one
    more, in rank order: PETSc's default for the local sizes of matrices
    and vectors (``PETSC_DECIDE``).

    Parameters
    ----------
    n : int
        The number of items (rows, or sub-intervals), at least 0.
    size : int
        The number of ranks, at least 1.
    rank : int
        This rank, ``0 <= rank < size``.

    Returns
    -------
    begin, end : int
        The first item of the rank and one past its last.

    Raises
    ------
    TypeError
        If an argument is not an integer (bool is not one).
    ValueError
        If ``n`` is negative, ``size`` below 1, or ``rank`` outside
        ``[0, size)``.
    OverflowError
        If an argument exceeds 2**63 - 1.

    See Also
    --------
    row_range : The rows that a range of sub-intervals owns.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> [za.ownership(10, 4, rank) for rank in range(4)]
    [(0, 3), (3, 6), (6, 8), (8, 10)]
    """
    n = _count(n, "n")
    size = _count(size, "size", 1)
    rank = _count(rank, "rank")
    if rank >= size:
        raise ValueError(f"rank must be below size = {size}, got {rank}")
    share, extra = divmod(n, size)
    begin = rank * share + min(rank, extra)
    return begin, begin + share + (rank < extra)


def row_range(space: LagrangeSpace | LegendreSpace, intervals: tuple[int, int] | range | None = None) -> range:
    """The global rows (indices) of ``space`` that its sub-intervals ``[k_begin, k_end)`` own.

    These are the rows that the time operators build with the same
    ``intervals=``, and the time-matrix rows to pass to :func:`kron_sum`.
    Sub-interval k owns its basis functions; a continuous Lagrange space's
    shared node ``k * degree`` belongs to sub-interval k (so to the rank on
    its right), and the last node ``n_t * degree`` to the last sub-interval.

    Parameters
    ----------
    space : LagrangeSpace or LegendreSpace
        The time space. A :class:`LegendreSpace` must use
        ``layout="interval-major"`` unless the range is all of it: in the
        polynomial-major layout the rows of a sub-interval are ``n_t`` apart.
    intervals : tuple of two ints or range, optional
        ``(k_begin, k_end)``: the sub-intervals, as for the builders; all by
        default.

    Returns
    -------
    range
        Consecutive global indices; empty for an empty range of sub-intervals.

    Raises
    ------
    TypeError
        If ``space`` is not a space or ``intervals`` is not a pair or range.
    ValueError
        If ``intervals`` is out of range, or the rows of a polynomial-major
        space are not consecutive.

    See Also
    --------
    ownership : Which sub-intervals a rank owns.
    kron_sum : The space-time operator of those rows.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> za.row_range(za.LagrangeSpace(2, 4), (1, 2)), za.row_range(za.LagrangeSpace(2, 4), (2, 4))
    (range(2, 4), range(4, 9))
    >>> za.row_range(za.LegendreSpace(1, 4, layout="interval-major"), za.ownership(4, 3, 0))
    range(0, 4)
    """
    if not isinstance(space, (LagrangeSpace, LegendreSpace)):
        raise TypeError(f"space must be a LagrangeSpace or a LegendreSpace, not {type(space).__name__!r}")
    k_begin, k_end = checked_intervals(intervals, space.n_t)
    if k_begin == k_end:
        return range(0)
    if isinstance(space, LagrangeSpace) and space.continuous:
        return range(k_begin * space.degree, k_end * space.degree + (k_end == space.n_t))
    if isinstance(space, LegendreSpace) and space.layout != INTERVAL_MAJOR and (k_begin, k_end) != (0, space.n_t):
        raise ValueError(
            "the rows of a range of sub-intervals are not consecutive in the polynomial-major layout: "
            'use LegendreSpace(..., layout="interval-major")'
        )
    width = space.degree + 1
    return range(k_begin * width, k_end * width)
