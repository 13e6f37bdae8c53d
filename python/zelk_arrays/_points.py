"""The Lagrange points of a uniform grid."""

from __future__ import annotations

import numpy as np

from . import _native
from ._results import _owned
from ._validation import FloatArray, _count, _end_time


def get_lagrange_points(degree: int, n_t: int, T: float) -> FloatArray:
    """The global Lagrange points of [0, T] cut into ``n_t`` equal sub-intervals.

    Each sub-interval carries ``degree + 1`` equidistant nodes; neighbours
    share their end node, and the last point is ``T`` itself.

    Parameters
    ----------
    degree : int
        Polynomial degree: the number of points per sub-interval less one.
    n_t : int
        Number of equal sub-intervals of [0, T].
    T : float
        End of the time interval.

    Returns
    -------
    numpy.ndarray
        float64 array of ``n_t * degree + 1`` points, bit-identical to
        ``zelk.get_lagrange_points(degree, n_t, T)``.

    Raises
    ------
    TypeError
        If ``degree`` or ``n_t`` is no integer (bool is not one), or ``T`` no
        real number.
    ValueError
        If ``degree`` or ``n_t`` is negative, ``T`` is not positive and
        finite, or the node spacing ``T / (n_t * degree)`` is not a normal
        double.
    OverflowError
        If ``degree`` or ``n_t`` exceeds 2**63 - 1, or the point count
        overflows ("capacity overflow").
    MemoryError
        If the points do not fit in memory.
    """
    degree = _count(degree, "degree")
    n_t = _count(n_t, "n_t")
    return _owned(_native.lagrange_points(degree, n_t, _end_time(T, n_t, degree)), np.float64)
