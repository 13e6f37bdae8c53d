"""The nodal prolongation, the nodal-to-Legendre transformation and the Legendre basis matrix."""

from __future__ import annotations

from typing import TYPE_CHECKING

from numpy.typing import ArrayLike

from . import _native
from ._ranges import checked_intervals, register_column_range
from ._results import _built, _csr
from ._validation import _count, _end_time, _flag, _index_width, _times

if TYPE_CHECKING:
    from scipy.sparse import csr_array


def _prolongation_sizes(nt_coarse: int, nt_fine: int, degree: int) -> tuple[int, int, int]:
    nt_coarse = _count(nt_coarse, "nt_coarse")
    nt_fine = _count(nt_fine, "nt_fine")
    degree = _count(degree, "degree")
    _count(degree, "degree", minimum=1)
    _count(nt_coarse, "nt_coarse", minimum=1)
    _count(nt_fine, "nt_fine", minimum=1)
    return nt_coarse, nt_fine, degree


def lagrange_prolongation_matrix(
    nt_coarse: int,
    nt_fine: int,
    degree: int,
    *,
    intervals: tuple[int, int] | range | None = None,
    index_dtype: object = None,
) -> csr_array:
    """The prolongation from nodal values on ``nt_coarse`` to ``nt_fine`` sub-intervals.

    Evaluates the coarse grid's piecewise interpolant at the Lagrange points
    of the fine grid; both grids cover the same interval, and the fine one
    need not be a refinement of the coarse one.

    ``intervals=(k_begin, k_end)`` builds only the rows that fine
    sub-intervals ``k_begin <= k < k_end`` own: the rows of their nodes
    ``k * degree ... k * degree + degree - 1``, and for the last sub-interval
    also the end point ``nt_fine * degree``. Each row is computed from its
    global number alone, so the pieces of any split, stacked in order, are
    the whole matrix bit for bit. ``column_range(lagrange_prolongation_matrix,
    ...)`` gives the columns they touch without building them.

    Parameters
    ----------
    nt_coarse : int
        Sub-intervals of the grid the values come from, at least 1.
    nt_fine : int
        Sub-intervals of the grid the values go to, at least 1.
    degree : int
        Polynomial degree of both grids, at least 1.
    intervals : tuple of two ints or range, optional
        The fine sub-intervals ``[k_begin, k_end)`` whose rows to build, as a
        pair or a range of step 1; all by default.
    index_dtype : numpy.int32, numpy.int64 or None, optional
        The index type of the result; None (the default) takes int32 where
        every index and size fits, as scipy does, else int64. int32 for a
        matrix it cannot index is an OverflowError naming the largest index.

    Returns
    -------
    scipy.sparse.csr_array
        Shape ``(nt_fine * degree + 1, nt_coarse * degree + 1)`` (for a range,
        as many rows as it owns, columns numbered globally); its
        ``(data, indices, indptr)`` read row by row equal the triplets of
        ``zelk.lagrange_prolongation_matrix``. Exact zeros are not stored.
        Row r holds the weights of fine point r.

    Raises
    ------
    TypeError
        If an argument is no integer (bool is not one), or ``intervals`` is
        neither a pair of integers nor a range.
    OverflowError
        If an argument exceeds 2**63 - 1, or the sizes overflow.
    ValueError
        If an argument is negative, ``degree``, ``nt_coarse`` or ``nt_fine``
        is 0 (checked in that order), or ``intervals`` is not a range of
        fine sub-intervals or has a step other than 1.
    MemoryError
        If the matrix does not fit in memory; the message says how many
        bytes were requested.

    See Also
    --------
    legendre_prolongation_matrix : The same transfer for Legendre coefficients.
    get_lagrange_points : The points whose values the rows and columns hold.
    column_range : The columns a range of rows touches.

    Notes
    -----
    A fine point inside a coarse sub-interval has ``degree + 1`` weights, a
    point that falls on a coarse node has one. Time and memory are
    proportional to the stored entries, at most ``(nt_fine * degree + 1) *
    (degree + 1)``, 12 bytes each (16 with int64 indices).

    The transpose restricts residuals of the nodal description; see the
    time operators page for which restriction suits which quantity.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> P = za.lagrange_prolongation_matrix(1, 2, 1)
    >>> P.toarray()
    array([[1. , 0. ],
           [0.5, 0.5],
           [0. , 1. ]])
    >>> P @ [2.0, 4.0]          # a linear function stays itself
    array([2., 3., 4.])
    >>> za.lagrange_prolongation_matrix(1, 2, 1, intervals=(1, 2)).toarray()
    array([[0.5, 0.5],
           [0. , 1. ]])
    """
    nt_coarse, nt_fine, degree = _prolongation_sizes(nt_coarse, nt_fine, degree)
    k_begin, k_end = checked_intervals(intervals, nt_fine)
    return _built(_native.prolongation_matrix, nt_coarse, nt_fine, degree, k_begin, k_end, index_dtype=index_dtype)


@register_column_range(lagrange_prolongation_matrix)
def _prolongation_columns(
    nt_coarse: int, nt_fine: int, degree: int, *, intervals: tuple[int, int] | range | None = None
) -> tuple[int, int]:
    nt_coarse, nt_fine, degree = _prolongation_sizes(nt_coarse, nt_fine, degree)
    k_begin, k_end = checked_intervals(intervals, nt_fine)
    return _native.prolongation_columns(nt_coarse, nt_fine, degree, k_begin, k_end)


def _transformation_sizes(degree: int, n_t: int) -> tuple[int, int]:
    degree = _count(degree, "degree")
    n_t = _count(n_t, "n_t")
    _count(degree, "degree", minimum=1)
    return degree, n_t


def lagrange_to_legendre_basis_transformation(
    degree: int, n_t: int, *, intervals: tuple[int, int] | range | None = None, index_dtype: object = None
) -> csr_array:
    """The matrix from nodal values to Legendre coefficients.

    Row ``p * n_t + k`` gives the coefficient of P_p on sub-interval k, the
    layout that :class:`LegendreExpansion` and ``zelk``'s classes read.
    Multiplied with the values at ``get_lagrange_points(degree, n_t, T)``
    (any T), it gives the coefficients of the piecewise interpolant.

    ``intervals=(k_begin, k_end)`` builds only the rows that sub-intervals
    ``k_begin <= k < k_end`` own: rows ``p * n_t + k`` for every ``p``, in
    global order, polynomial by polynomial. With ``c = k_end - k_begin``,
    local row ``p * c + (k - k_begin)`` is global row ``p * n_t + k``;
    ``B[np.arange(B.shape[0]).reshape(degree + 1, c).T.ravel()]`` lists them
    sub-interval by sub-interval, a rank-contiguous order. Put back at
    their global rows, the pieces of any split are the whole matrix bit for
    bit.

    Parameters
    ----------
    degree : int
        Polynomial degree, at least 1.
    n_t : int
        Number of sub-intervals.
    intervals : tuple of two ints or range, optional
        The sub-intervals ``[k_begin, k_end)`` whose rows to build, as a
        pair or a range of step 1; all by default.
    index_dtype : numpy.int32, numpy.int64 or None, optional
        The index type of the result; None (the default) takes int32 where
        every index and size fits, as scipy does, else int64. int32 for a
        matrix it cannot index is an OverflowError naming the largest index.

    Returns
    -------
    scipy.sparse.csr_array
        Shape ``((degree + 1) * n_t, n_t * degree + 1)`` (for a range,
        ``(degree + 1) * (k_end - k_begin)`` rows) with ``degree + 1``
        stored entries per row, explicit zeros included, equal to the
        triplets of ``zelk.lagrange_to_legendre_basis_transformation``.

    Raises
    ------
    TypeError
        If an argument is no integer (bool is not one), or ``intervals`` is
        neither a pair of integers nor a range.
    OverflowError
        If an argument exceeds 2**63 - 1, or the sizes overflow.
    ValueError
        If an argument is negative, ``degree`` is 0, or ``intervals`` is not
        a range of sub-intervals or has a step other than 1.
    MemoryError
        If the matrix does not fit in memory; the message says how many
        bytes were requested.

    See Also
    --------
    get_lagrange_points : The points whose values the columns hold.
    LegendreExpansion : Evaluates the coefficients the rows give.
    LagrangeSpace, LegendreSpace : Spaces with these two layouts.

    Notes
    -----
    On each sub-interval the block is the inverse of the Vandermonde matrix
    of the Legendre polynomials at the equidistant nodes. Its condition
    number grows quickly with the degree: about 16 at degree 8, 1.2e3 at
    degree 16 and 2.8e7 at degree 32 (the guide to choosing degree, nodes
    and ``n_t`` has the table), so at high degree the coefficients amplify
    any error in the values.

    Time and memory are proportional to the ``(degree + 1)**2 * n_t``
    stored entries, 12 bytes each (16 with int64 indices).

    Examples
    --------
    >>> import zelk_arrays as za
    >>> B = za.lagrange_to_legendre_basis_transformation(1, 2)
    >>> B.toarray()
    array([[ 0.5,  0.5,  0. ],
           [ 0. ,  0.5,  0.5],
           [-0.5,  0.5,  0. ],
           [ 0. , -0.5,  0.5]])
    >>> t = za.get_lagrange_points(1, 2, 1.0)
    >>> B @ t                   # u(t) = t: mean and half-slope on each half
    array([0.25, 0.75, 0.25, 0.25])
    """
    degree, n_t = _transformation_sizes(degree, n_t)
    k_begin, k_end = checked_intervals(intervals, n_t)
    return _built(_native.transformation_matrix, degree, n_t, k_begin, k_end, index_dtype=index_dtype)


@register_column_range(lagrange_to_legendre_basis_transformation)
def _transformation_columns(
    degree: int, n_t: int, *, intervals: tuple[int, int] | range | None = None
) -> tuple[int, int]:
    degree, n_t = _transformation_sizes(degree, n_t)
    k_begin, k_end = checked_intervals(intervals, n_t)
    # Sub-interval k reads its nodes k * degree ... k * degree + degree.
    if k_begin == k_end:
        return k_begin * degree, k_begin * degree
    return k_begin * degree, k_end * degree + 1


def legendre_basis_matrix(
    degree: int, n_t: int, T: float, times: ArrayLike, derivative: bool = False, *, index_dtype: object = None
) -> csr_array:
    """The Legendre basis functions (or their time derivatives) at many times.

    Parameters
    ----------
    degree : int
        Polynomial degree on each sub-interval.
    n_t : int
        Number of equal sub-intervals of [0, T], at least 1.
    T : float
        End of the time interval.
    times : array_like
        One-dimensional real numbers (converted to float64). Times outside
        [0, T] are evaluated at the nearest end; a time on the boundary of
        two sub-intervals belongs to the one on its right.
    derivative : bool, optional
        Time derivatives instead of values (default False).
    index_dtype : numpy.int32, numpy.int64 or None, optional
        The index type of the result; None (the default) takes int32 where
        every index and size fits, as scipy does, else int64. int32 for a
        matrix it cannot index is an OverflowError naming the largest index.

    Returns
    -------
    scipy.sparse.csr_array
        Shape ``(len(times), n_t * (degree + 1))``. Row r holds the
        ``degree + 1`` basis values at ``times[r]`` in the coefficient layout,
        equal to ``zelk.LegendreBasis(degree, n_t, T).evaluate_all_basis_functions(times[r])``
        (or ``evaluate_all_basis_function_derivatives``); so ``B @ c``
        evaluates the expansion with coefficients ``c`` at every time.

    A single time gives a matrix of one row.

    Raises
    ------
    TypeError
        If ``degree`` or ``n_t`` is no integer (bool is not one), ``T`` no
        real number, ``times`` not real numbers or a masked array, or
        ``derivative`` not a bool.
    OverflowError
        If ``degree`` or ``n_t`` exceeds 2**63 - 1, or the sizes overflow.
    ValueError
        If ``degree`` is negative, ``n_t`` is 0, ``T`` is not positive and
        finite or ``T / n_t`` not a normal double, or ``times`` has more
        than one dimension.
    MemoryError
        If the matrix does not fit in memory; the message says how many
        bytes were requested.

    See Also
    --------
    LegendreExpansion : Evaluates one set of coefficients without a matrix.
    lagrange_to_legendre_basis_transformation : Coefficients from nodal values.

    Notes
    -----
    The matrix pays off when the same times serve many coefficient vectors
    (``B @ C`` for a matrix ``C`` of them); for one vector
    :class:`LegendreExpansion` is cheaper. Time and memory are proportional
    to the ``len(times) * (degree + 1)`` stored entries, 12 bytes each
    (16 with int64 indices).

    Examples
    --------
    >>> import zelk_arrays as za
    >>> B = za.legendre_basis_matrix(1, 2, 1.0, [0.0, 0.25, 0.75])
    >>> B.toarray()
    array([[ 1.,  0., -1.,  0.],
           [ 1.,  0.,  0.,  0.],
           [ 0.,  1.,  0.,  0.]])
    >>> B @ [1.0, 2.0, 0.5, 0.5]        # the expansion's values at the three times
    array([0.5, 1. , 2. ])
    >>> za.legendre_basis_matrix(1, 2, 1.0, 0.25, derivative=True).toarray()
    array([[0., 0., 4., 0.]])
    """
    degree = _count(degree, "degree")
    n_t = _count(n_t, "n_t", minimum=1)
    T = _end_time(T, n_t)
    array = _times(times)
    _index_width(index_dtype)
    return _csr(_native.basis_matrix(degree, n_t, T, array, _flag(derivative, "derivative")), index_dtype)
