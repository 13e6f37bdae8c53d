"""Grid transfers of the modal (Legendre) description: L2 projections between two time grids."""

from __future__ import annotations

import math
from typing import TYPE_CHECKING

from . import _native
from ._ranges import checked_intervals, register_column_range
from ._results import _built
from ._validation import _count

if TYPE_CHECKING:
    from scipy.sparse import csr_array


def _grids(nt_coarse: int, nt_fine: int, degree: int) -> tuple[int, int, int]:
    nt_coarse = _count(nt_coarse, "nt_coarse", minimum=1)
    nt_fine = _count(nt_fine, "nt_fine", minimum=1)
    degree = _count(degree, "degree")
    return nt_coarse, nt_fine, degree


def legendre_prolongation_matrix(
    nt_coarse: int,
    nt_fine: int,
    degree: int,
    *,
    intervals: tuple[int, int] | range | None = None,
    index_dtype: object = None,
) -> csr_array:
    """The prolongation of Legendre coefficients from ``nt_coarse`` to ``nt_fine`` sub-intervals.

    Exact when ``nt_fine`` is a multiple of ``nt_coarse``; otherwise the L2
    projection onto the fine space, integrated exactly over the overlaps of
    fine and coarse sub-intervals.

    Parameters
    ----------
    nt_coarse : int
        Number of sub-intervals of the grid the coefficients come from, at
        least 1.
    nt_fine : int
        Number of sub-intervals of the grid they go to, at least 1.
    degree : int
        Polynomial degree on both grids, at least 0.
    intervals : tuple of two ints or range, optional
        ``(k_begin, k_end)`` or ``range(k_begin, k_end)``: only the rows
        of the fine sub-intervals ``k_begin <= k < k_end``, polynomial by
        polynomial. Default: all.
    index_dtype : numpy.int32, numpy.int64 or None, optional
        The index type of the result; None (the default) takes int32 where
        every index and size fits, as scipy does, else int64. int32 for a
        matrix it cannot index is an OverflowError naming the largest index.

    Returns
    -------
    scipy.sparse.csr_array
        float64, shape ``(nt_fine * (degree + 1), nt_coarse * (degree + 1))``
        for all rows, in the coefficient layout ``i * n_t + k`` on both sides.
        Exact zeros are not stored.

    Raises
    ------
    TypeError
        If a count is not an integer (bool is not one), or ``intervals``
        neither a pair of integers nor a range.
    ValueError
        If a count is negative, ``nt_coarse`` or ``nt_fine`` is 0, or
        ``intervals`` is out of range or has a step other than 1.
    OverflowError
        If a count exceeds 2**63 - 1 or the sizes exceed the address space.
    MemoryError
        If the matrix does not fit in memory; the message says how many
        bytes were requested.

    See Also
    --------
    legendre_restriction_matrix : The L2 projection back onto the coarse grid.
    lagrange_prolongation_matrix : The same transfer for nodal values.
    column_range : The columns a range of rows touches.

    Notes
    -----
    Each pair of overlapping fine and coarse sub-intervals contributes at
    most ``(degree + 1)**2`` entries, and there are
    ``nt_fine + nt_coarse - gcd(nt_fine, nt_coarse)`` such pairs. On nested
    grids about half of them remain: there the coefficient of P_i on a fine
    sub-interval reads only the coarse polynomials of degree ``>= i``. Time
    and memory are proportional to the stored entries, 12 bytes each (16 with
    int64 indices).

    Its transpose restricts residuals in a Legendre test space; see the
    time operators page for which restriction suits which quantity.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> P = za.legendre_prolongation_matrix(1, 2, 1)
    >>> P.toarray()
    array([[ 1. , -0.5],
           [ 1. ,  0.5],
           [ 0. ,  0.5],
           [ 0. ,  0.5]])

    ``u(t) = 2t - 1`` on [0, 1] (coefficients 0 and 1) becomes
    ``-0.5 + 0.5 x`` on the left half and ``0.5 + 0.5 x`` on the right:

    >>> P @ [0.0, 1.0]
    array([-0.5,  0.5,  0.5,  0.5])
    """
    nt_coarse, nt_fine, degree = _grids(nt_coarse, nt_fine, degree)
    k_begin, k_end = checked_intervals(intervals, nt_fine)
    return _built(
        _native.legendre_prolongation_matrix, nt_coarse, nt_fine, degree, k_begin, k_end, index_dtype=index_dtype
    )


def legendre_restriction_matrix(
    *,
    nt_coarse: int,
    nt_fine: int,
    degree: int,
    intervals: tuple[int, int] | range | None = None,
    index_dtype: object = None,
) -> csr_array:
    """The L2 projection of Legendre coefficients from ``nt_fine`` onto ``nt_coarse`` sub-intervals.

    On nested grids it equals ``M_c^-1 P.T M_f`` for the prolongation ``P``
    and the two mass matrices: the restriction for solutions and iterates.
    Residuals, which live in the test space, are restricted by ``P.T``.

    The arguments are keyword-only: earlier versions took
    ``(nt_fine, nt_coarse, degree)`` positionally, the reverse of the
    prolongation's order, so an old call fails now instead of silently
    building the matrix of swapped grids.

    Parameters
    ----------
    nt_coarse : int
        Number of sub-intervals of the grid the coefficients go to, at
        least 1.
    nt_fine : int
        Number of sub-intervals of the grid they come from, at least 1.
    degree : int
        Polynomial degree on both grids, at least 0.
    intervals : tuple of two ints or range, optional
        ``(k_begin, k_end)`` or ``range(k_begin, k_end)``: only the rows of
        the coarse sub-intervals ``k_begin <= k < k_end``, polynomial by
        polynomial. Default: all.
    index_dtype : numpy.int32, numpy.int64 or None, optional
        The index type of the result; None (the default) takes int32 where
        every index and size fits, as scipy does, else int64. int32 for a
        matrix it cannot index is an OverflowError naming the largest index.

    Returns
    -------
    scipy.sparse.csr_array
        float64, shape ``(nt_coarse * (degree + 1), nt_fine * (degree + 1))``
        for all rows. Exact zeros are not stored.

    Raises
    ------
    TypeError
        If a count is not an integer (bool is not one), or ``intervals``
        neither a pair of integers nor a range.
    ValueError
        If a count is negative, ``nt_coarse`` or ``nt_fine`` is 0, or
        ``intervals`` is out of range or has a step other than 1.
    OverflowError
        If a count exceeds 2**63 - 1 or the sizes exceed the address space.
    MemoryError
        If the matrix does not fit in memory; the message says how many
        bytes were requested.

    See Also
    --------
    legendre_prolongation_matrix : The transfer the other way.
    time_mass_matrix : The mass matrices ``M_c`` and ``M_f``.
    column_range : The columns a range of rows touches.

    Notes
    -----
    Restriction after prolongation is the identity:
    ``R @ P == I`` up to rounding. Each pair of overlapping fine and coarse
    sub-intervals contributes at most ``(degree + 1)**2`` entries, and there
    are ``nt_fine + nt_coarse - gcd(nt_fine, nt_coarse)`` such pairs. Time and
    memory are proportional to the stored entries, 12 bytes each (16 with
    int64 indices).

    Examples
    --------
    >>> import numpy as np
    >>> import zelk_arrays as za
    >>> R = za.legendre_restriction_matrix(nt_coarse=1, nt_fine=2, degree=1)
    >>> R.toarray()
    array([[ 0.5 ,  0.5 ,  0.  ,  0.  ],
           [-0.75,  0.75,  0.25,  0.25]])
    >>> P = za.legendre_prolongation_matrix(nt_coarse=1, nt_fine=2, degree=1)
    >>> np.allclose((R @ P).toarray(), np.eye(2))
    True
    """
    nt_coarse, nt_fine, degree = _grids(nt_coarse, nt_fine, degree)
    k_begin, k_end = checked_intervals(intervals, nt_coarse)
    return _built(
        _native.legendre_restriction_matrix, nt_coarse, nt_fine, degree, k_begin, k_end, index_dtype=index_dtype
    )


def _overlapped(k_begin: int, k_end: int, own: int, other: int, count: int, degree: int) -> tuple[int, int]:
    """Columns of the sub-intervals (``other`` units long) that rows k_begin..k_end-1 (``own`` long) overlap."""
    if k_begin == k_end:
        return 0, 0
    first = k_begin * own // other
    last = (k_end * own - 1) // other
    return first, degree * count + last + 1


@register_column_range(legendre_prolongation_matrix)
def _prolongation_columns(nt_coarse: int, nt_fine: int, degree: int, *, intervals: object = None) -> tuple[int, int]:
    nt_coarse, nt_fine, degree = _grids(nt_coarse, nt_fine, degree)
    k_begin, k_end = checked_intervals(intervals, nt_fine)
    g = math.gcd(nt_coarse, nt_fine)
    return _overlapped(k_begin, k_end, nt_coarse // g, nt_fine // g, nt_coarse, degree)


@register_column_range(legendre_restriction_matrix)
def _restriction_columns(*, nt_coarse: int, nt_fine: int, degree: int, intervals: object = None) -> tuple[int, int]:
    nt_coarse, nt_fine, degree = _grids(nt_coarse, nt_fine, degree)
    k_begin, k_end = checked_intervals(intervals, nt_coarse)
    g = math.gcd(nt_coarse, nt_fine)
    return _overlapped(k_begin, k_end, nt_fine // g, nt_coarse // g, nt_fine, degree)
