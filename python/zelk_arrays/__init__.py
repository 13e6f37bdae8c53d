"""zelk's results as numpy arrays and scipy sparse matrices.

The same numbers as :mod:`zelk`, bit for bit, computed by the same native core,
but delivered as arrays that own the core's storage: no Python lists, no
conversion afterwards. Long computations run with the GIL released and stay
interruptible with Ctrl-C. (A NaN result is a NaN in both packages, but its
sign and payload are not part of the bit-for-bit promise.)

Every result is computed with IEEE doubles in a fixed order of operations, so
it is the same to the last bit on every platform and Python version, and
equal to what :mod:`zelk` returns for the same arguments. Sparse matrices are
``scipy.sparse.csr_array`` with float64 data, sorted column indices and
int32 index arrays where every index fits (int64 otherwise).

Errors follow numpy and scipy: ``TypeError`` for arguments of the wrong type,
``OverflowError`` for negative counts, for sizes beyond the address space
("capacity overflow") and for matrices whose indices would not fit int64,
``ValueError`` for invalid values, ``MemoryError`` for results larger than the
memory available.
"""

from __future__ import annotations

import math
import operator
from typing import TYPE_CHECKING, Any, Final, TypeVar

try:
    import numpy as np
except ImportError:  # pragma: no cover - depends on the environment
    raise ImportError("zelk_arrays needs numpy: pip install numpy") from None

import numpy.typing as npt

from . import _native
from ._ranges import checked_intervals, column_range, register_column_range
from ._version import __version__ as __version__

if TYPE_CHECKING:
    from scipy.sparse import csr_array

    # (data, indices, indptr, index item size, nrows, ncols) from the native module.
    _CsrParts = tuple[memoryview, memoryview, memoryview, int, int, int]

__all__ = [
    "LagrangeSpace",
    "LegendreExpansion",
    "LegendreSpace",
    "column_range",
    "get_lagrange_points",
    "lagrange_prolongation_matrix",
    "lagrange_to_legendre_basis_transformation",
    "legendre_basis_matrix",
    "legendre_prolongation_matrix",
    "legendre_restriction_matrix",
    "time_derivative_matrix",
    "time_jump_matrix",
    "time_mass_matrix",
    "time_quadrature",
]

FloatArray = npt.NDArray[np.float64]

_COUNT_LIMIT: Final = 2**64


def _count(value: object, name: str, minimum: int = 0) -> int:
    """An unsigned 64-bit count, checked in the order type, sign, range, minimum."""
    try:
        count = operator.index(value)  # type: ignore[arg-type]
    except TypeError as error:
        # A failing __index__ of the argument's own type is kept as the cause.
        cause = error if hasattr(type(value), "__index__") else None
        raise TypeError(f"{name} must be an integer, not {type(value).__name__!r}") from cause
    if count < 0:
        raise OverflowError(f"{name} must be non-negative, got {count}")
    if count >= _COUNT_LIMIT:
        raise OverflowError(f"{name} must be below 2**64, got {count}")
    if count < minimum:
        raise ValueError(f"{name} must be at least {minimum}, got {count}")
    return count


def _real(value: object, name: str) -> float:
    if not isinstance(value, (str, bytes, bytearray)):
        try:
            return float(value)  # type: ignore[arg-type]
        except TypeError:
            pass
        except (OverflowError, ValueError) as error:  # 10**400, Decimal('sNaN')
            kind = OverflowError if isinstance(error, OverflowError) else ValueError
            raise kind(f"{name}: {error}") from error
    raise TypeError(f"{name} must be a real number, not {type(value).__name__!r}")


def _flag(value: object, name: str) -> bool:
    """A bool or numpy bool, as numpy's own flags take it; anything else is a TypeError."""
    if isinstance(value, (bool, np.bool_)):
        return bool(value)
    raise TypeError(f"{name} must be a bool, not {type(value).__name__!r}")


def _unmasked(values: object, name: str) -> object:
    if isinstance(values, np.ma.MaskedArray):
        raise TypeError(f"{name} must not be a masked array: fill or compress it first")
    return values


def _float_array(values: object, name: str) -> FloatArray:
    """values as a C-contiguous float64 array of the same shape (a view if it already is one)."""
    if isinstance(values, (str, bytes, bytearray)):
        raise TypeError(f"{name} must be real numbers, not {type(values).__name__!r}")
    array = np.asarray(values)
    kind = array.dtype.kind
    if kind == "O":
        # Item by item as float() converts: astype would turn None into nan.
        try:
            flat = [_real(item, name) for item in array.flat]
        except TypeError:
            raise TypeError(f"{name} must be real numbers") from None
        array = np.array(flat, dtype=np.float64).reshape(array.shape)
    elif kind not in "biuf":
        raise TypeError(f"{name} must be real numbers, not an array of {array.dtype}")
    # ascontiguousarray turns 0-d into 1-d, so keep the shape to restore it.
    return np.ascontiguousarray(array, dtype=np.float64).reshape(array.shape)


_MaskedArray = np.ma.MaskedArray

_Scalar = TypeVar("_Scalar", bound=np.generic)


def _owned(buffer: memoryview, dtype: type[_Scalar]) -> npt.NDArray[_Scalar]:
    """A numpy array over a native buffer, which it keeps alive as its base."""
    return np.frombuffer(buffer, dtype=dtype)


def _csr(parts: _CsrParts) -> csr_array:
    try:
        from scipy.sparse import csr_array
    except ImportError as error:
        raise ImportError("zelk_arrays needs scipy for its sparse matrices: pip install scipy") from error
    data, indices, indptr, index_size, nrows, ncols = parts
    # The index width is scipy's own choice for this shape, so it keeps the arrays as they are.
    index_dtype: type[np.signedinteger[Any]] = np.int32 if index_size == 4 else np.int64
    return csr_array(
        (_owned(data, np.float64), _owned(indices, index_dtype), _owned(indptr, index_dtype)),
        shape=(nrows, ncols),
    )


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
        If ``degree`` or ``n_t`` is no integer, or ``T`` no real number.
    OverflowError
        If ``degree`` or ``n_t`` is negative or 2**64 or more, or the point
        count overflows ("capacity overflow").
    MemoryError
        If the points do not fit in memory.
    """
    degree = _count(degree, "degree")
    n_t = _count(n_t, "n_t")
    return _owned(_native.lagrange_points(degree, n_t, _real(T, "T")), np.float64)


def _prolongation_sizes(nt_coarse: int, nt_fine: int, degree: int) -> tuple[int, int, int]:
    nt_coarse = _count(nt_coarse, "nt_coarse")
    nt_fine = _count(nt_fine, "nt_fine")
    degree = _count(degree, "degree")
    _count(degree, "degree", minimum=1)
    _count(nt_coarse, "nt_coarse", minimum=1)
    _count(nt_fine, "nt_fine", minimum=1)
    return nt_coarse, nt_fine, degree


def lagrange_prolongation_matrix(
    nt_coarse: int, nt_fine: int, degree: int, *, intervals: tuple[int, int] | None = None
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
    intervals : tuple of two ints, optional
        The fine sub-intervals ``[k_begin, k_end)`` whose rows to build; all by default.

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
        If an argument is no integer, or ``intervals`` is not a pair of integers.
    OverflowError
        If an argument is negative or 2**64 or more, or the sizes overflow.
    ValueError
        If ``degree``, ``nt_coarse`` or ``nt_fine`` is 0 (checked in that order),
        or ``intervals`` is not a range of fine sub-intervals.
    MemoryError
        If the matrix does not fit in memory.
    """
    nt_coarse, nt_fine, degree = _prolongation_sizes(nt_coarse, nt_fine, degree)
    k_begin, k_end = checked_intervals(intervals, nt_fine)
    return _csr(_native.prolongation_matrix(nt_coarse, nt_fine, degree, k_begin, k_end))


@register_column_range(lagrange_prolongation_matrix)
def _prolongation_columns(
    nt_coarse: int, nt_fine: int, degree: int, *, intervals: tuple[int, int] | None = None
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
    degree: int, n_t: int, *, intervals: tuple[int, int] | None = None
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
    intervals : tuple of two ints, optional
        The sub-intervals ``[k_begin, k_end)`` whose rows to build; all by default.

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
        If an argument is no integer, or ``intervals`` is not a pair of integers.
    OverflowError
        If an argument is negative or 2**64 or more, or the sizes overflow.
    ValueError
        If ``degree`` is 0, or ``intervals`` is not a range of sub-intervals.
    MemoryError
        If the matrix does not fit in memory.
    """
    degree, n_t = _transformation_sizes(degree, n_t)
    k_begin, k_end = checked_intervals(intervals, n_t)
    return _csr(_native.transformation_matrix(degree, n_t, k_begin, k_end))


@register_column_range(lagrange_to_legendre_basis_transformation)
def _transformation_columns(degree: int, n_t: int, *, intervals: tuple[int, int] | None = None) -> tuple[int, int]:
    degree, n_t = _transformation_sizes(degree, n_t)
    k_begin, k_end = checked_intervals(intervals, n_t)
    # Sub-interval k reads its nodes k * degree ... k * degree + degree.
    if k_begin == k_end:
        return k_begin * degree, k_begin * degree
    return k_begin * degree, k_end * degree + 1


def legendre_basis_matrix(
    degree: int, n_t: int, T: float, times: npt.ArrayLike, derivative: bool = False
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
        If ``degree`` or ``n_t`` is no integer, ``T`` no real number,
        ``times`` not real numbers or a masked array, or ``derivative`` not a
        bool.
    OverflowError
        If ``degree`` or ``n_t`` is negative or 2**64 or more, or the sizes
        overflow.
    ValueError
        If ``n_t`` is 0 or ``times`` has more than one dimension.
    MemoryError
        If the matrix does not fit in memory.
    """
    degree = _count(degree, "degree")
    n_t = _count(n_t, "n_t", minimum=1)
    T = _real(T, "T")
    array = _float_array(_unmasked(times, "times"), "times")
    if array.ndim == 0:
        array = array.reshape(1)
    if array.ndim != 1:
        raise ValueError(f"times must be a number or one-dimensional, got {array.ndim} dimensions")
    return _csr(_native.basis_matrix(degree, n_t, T, array, _flag(derivative, "derivative")))


class LegendreExpansion:
    """A piecewise Legendre expansion on [0, T], evaluated at many times at once.

    ``coefficients`` has ``n_t * (degree + 1)`` values in the coefficient
    layout: entry ``i * n_t + k`` belongs to P_i on sub-interval k. It may
    carry trailing axes, shape ``(n_t * (degree + 1), ...)``: then every
    column along them is an expansion of its own on the same grid. The
    expansion keeps its own read-only float64 copy of them; copies and
    pickles keep them read-only.

    ``f(times)`` and ``f.derivative(times)`` take a number or an array of any
    shape and real dtype (non-contiguous and float32 arrays are converted) and
    return a float64 array of shape ``times.shape + coefficients.shape[1:]``
    (0-d for a number and one expansion), bit-identical to
    ``zelk.LegendreBasisEvaluator``'s ``evaluate_at`` and
    ``evaluate_derivative_at`` at each time and for each column. The sign and
    payload of a NaN result are outside that promise: a NaN stays a NaN, but
    its bits may differ between the two packages and between batch sizes. A
    masked array of times gives a masked result with the same mask.

    Parameters
    ----------
    degree : int
        Polynomial degree on each sub-interval.
    n_t : int
        Number of equal sub-intervals of [0, T], at least 1.
    T : float
        End of the time interval.
    coefficients : array_like
        Shape ``(n_t * (degree + 1), ...)``: real numbers in the coefficient
        layout along the first axis, one expansion per trailing index.

    Raises
    ------
    TypeError
        If ``degree`` or ``n_t`` is no integer, ``T`` no real number, or
        ``coefficients`` not real numbers or a masked array.
    OverflowError
        If ``degree`` or ``n_t`` is negative or 2**64 or more.
    ValueError
        If ``n_t`` is 0, or ``coefficients`` is 0-d or its first axis has
        the wrong length.
    """

    __slots__ = ("_T", "_coefficients", "_columns", "_degree", "_flat", "_n_t", "_trailing")

    def __init__(self, degree: int, n_t: int, T: float, coefficients: npt.ArrayLike) -> None:
        self._degree = _count(degree, "degree")
        self._n_t = _count(n_t, "n_t", minimum=1)
        self._T = _real(T, "T")
        values = np.array(
            _float_array(_unmasked(coefficients, "coefficients"), "coefficients"), dtype=np.float64, copy=True
        )
        expected = self._n_t * (self._degree + 1)
        if values.ndim == 0:
            raise ValueError("coefficients must have at least one dimension, got 0")
        if values.shape[0] != expected:
            raise ValueError(
                f"coefficients must hold n_t * (degree + 1) = {expected} values along axis 0, got {values.shape[0]}"
            )
        values.flags.writeable = False
        self._coefficients = values
        # What every evaluation passes on, worked out once.
        self._flat = values.reshape(-1)
        self._trailing = values.shape[1:]
        self._columns = math.prod(self._trailing)

    @property
    def degree(self) -> int:
        """Polynomial degree on each sub-interval."""
        return self._degree

    @property
    def n_t(self) -> int:
        """Number of equal sub-intervals of [0, T]."""
        return self._n_t

    @property
    def T(self) -> float:  # noqa: N802 - the grid's own name
        """End of the time interval."""
        return self._T

    @property
    def coefficients(self) -> FloatArray:
        """The coefficients (read-only)."""
        return self._coefficients

    def __repr__(self) -> str:
        return f"LegendreExpansion(degree={self._degree}, n_t={self._n_t}, T={self._T!r})"

    def __reduce__(self) -> tuple[type[LegendreExpansion], tuple[int, int, float, FloatArray]]:
        # Rebuilt through __init__, which makes its own read-only copy; also
        # serves copy.copy, copy.deepcopy and every pickle protocol.
        return (type(self), (self._degree, self._n_t, self._T, self._coefficients))

    def _evaluate(self, times: npt.ArrayLike, derivative: bool) -> FloatArray:
        if isinstance(times, _MaskedArray):
            return self._evaluate_masked(times, derivative)
        array = _float_array(times, "times")
        if self._columns == 1:
            # One column (a 1-D expansion too): the blocked one-expansion loop, the same bits.
            values = _native.expansion_values(
                self._degree, self._n_t, self._T, self._flat, array.reshape(-1), derivative
            )
        else:
            values = _native.expansion_columns(
                self._degree, self._n_t, self._T, self._flat, self._columns, array.reshape(-1), derivative
            )
        return _owned(values, np.float64).reshape(array.shape + self._trailing)

    def _evaluate_masked(self, times: np.ma.MaskedArray[Any, Any], derivative: bool) -> FloatArray:
        result = self._evaluate(np.ma.getdata(times), derivative)
        # Each masked time masks its values for every column.
        mask = np.ma.getmaskarray(times)
        mask = np.broadcast_to(mask.reshape(mask.shape + (1,) * len(self._trailing)), result.shape)
        return np.ma.masked_array(result, mask=mask.copy())

    def __call__(self, times: npt.ArrayLike) -> FloatArray:
        """The expansion's values at ``times``, of shape ``times.shape + coefficients.shape[1:]``.

        Parameters
        ----------
        times : array_like
            A real number or an array of real numbers of any shape. Times
            outside [0, T] are evaluated at the nearest end; a time on the
            boundary of two sub-intervals belongs to the one on its right.

        Returns
        -------
        numpy.ndarray
            float64 of shape ``times.shape + coefficients.shape[1:]``
            (0-d for a number and one expansion); masked where ``times`` is.

        Raises
        ------
        TypeError
            If ``times`` are not real numbers.
        MemoryError
            If the result does not fit in memory.
        """
        return self._evaluate(times, False)

    def derivative(self, times: npt.ArrayLike) -> FloatArray:
        """The expansion's time derivatives at ``times``, of shape ``times.shape + coefficients.shape[1:]``.

        Parameters
        ----------
        times : array_like
            A real number or an array of real numbers of any shape. Times
            outside [0, T] are evaluated at the nearest end; a time on the
            boundary of two sub-intervals belongs to the one on its right.

        Returns
        -------
        numpy.ndarray
            float64 of shape ``times.shape + coefficients.shape[1:]``
            (0-d for a number and one expansion); masked where ``times`` is.

        Raises
        ------
        TypeError
            If ``times`` are not real numbers.
        MemoryError
            If the result does not fit in memory.
        """
        return self._evaluate(times, True)


# Builders of the space-time operators; they use the helpers above.
from ._legendre_transfers import legendre_prolongation_matrix, legendre_restriction_matrix  # noqa: E402
from ._ranges import column_range  # noqa: E402
from ._spaces import LagrangeSpace, LegendreSpace  # noqa: E402
from ._time_operators import (  # noqa: E402
    time_derivative_matrix,
    time_jump_matrix,
    time_mass_matrix,
    time_quadrature,
)
