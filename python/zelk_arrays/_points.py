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
        Polynomial degree: the number of points per sub-interval less one,
        at least 0.
    n_t : int
        Number of equal sub-intervals of [0, T].
    T : float
        End of the time interval, positive and finite.

    Returns
    -------
    numpy.ndarray
        float64 array of shape ``(n_t * degree + 1,)``, ascending,
        bit-identical to ``zelk.get_lagrange_points(degree, n_t, T)``.
        Point ``k * degree + j`` is node j of sub-interval k.

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
        If the points do not fit in memory; the message says how many bytes
        were requested.

    See Also
    --------
    LagrangeSpace : The nodal space whose nodes these are.
    lagrange_to_legendre_basis_transformation : From values at these points to Legendre coefficients.

    Notes
    -----
    Takes time and memory proportional to the ``n_t * degree + 1`` points,
    8 bytes each.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> za.get_lagrange_points(2, 2, 1.0)
    array([0.  , 0.25, 0.5 , 0.75, 1.  ])
    >>> za.get_lagrange_points(3, 1, 3.0)
    array([0., 1., 2., 3.])
    """
    degree = _count(degree, "degree")
    n_t = _count(n_t, "n_t")
    return _owned(_native.lagrange_points(degree, n_t, _end_time(T, n_t, degree)), np.float64)
