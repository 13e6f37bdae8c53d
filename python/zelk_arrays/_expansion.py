"""Piecewise Legendre expansions evaluated at many times."""

from __future__ import annotations

import math
from typing import Any

import numpy as np
import numpy.typing as npt

from . import _native
from ._results import _owned
from ._space_functions import checked_space, is_left, is_uniform_legendre, native_space, within
from ._spaces import LagrangeSpace, LegendreSpace, TimeSpace
from ._validation import FloatArray, _count, _end_time, _float_array, _intervals, _unmasked

_MaskedArray = np.ma.MaskedArray


class LegendreExpansion:
    """A piecewise Legendre expansion on [0, T], evaluated at many times at once.

    ``coefficients`` has ``n_t * (degree + 1)`` values in the coefficient
    layout: entry ``i * n_t + k`` belongs to P_i on sub-interval k. It may
    carry trailing axes, shape ``(n_t * (degree + 1), ...)``: then every
    column along them is an expansion of its own on the same grid. The
    expansion keeps its own read-only float64 copy of them, in storage that
    cannot be made writeable again; copies and pickles keep them read-only.

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
        Polynomial degree on each sub-interval, at least 0.
    n_t : int
        Number of equal sub-intervals of [0, T], at least 1.
    T : float
        End of the time interval, positive and finite.
    coefficients : array_like
        Shape ``(n_t * (degree + 1), ...)``: real numbers in the coefficient
        layout along the first axis, one expansion per trailing index.

    Raises
    ------
    TypeError
        If ``degree`` or ``n_t`` is no integer (bool is not one), ``T`` no
        real number, or ``coefficients`` not real numbers or a masked array.
    ValueError
        If ``degree`` is negative, ``n_t`` is below 1, ``T`` is not positive
        and finite or ``T / n_t`` not a normal double, or ``coefficients``
        is 0-d or its first axis has the wrong length.
    OverflowError
        If ``degree`` or ``n_t`` exceeds 2**63 - 1.

    See Also
    --------
    legendre_basis_matrix : The same values as a sparse matrix, for many coefficient vectors.
    lagrange_to_legendre_basis_transformation : Coefficients from nodal values.
    LegendreSpace : The space whose coefficient layout this is.

    Notes
    -----
    Construction copies the coefficients once (8 bytes per value).
    Evaluation costs ``O(degree)`` operations per time and column, with no
    storage beyond the result (and a float64 copy of times that are not
    contiguous float64 already); it runs without the GIL and can be
    interrupted with Ctrl-C.

    Examples
    --------
    >>> import numpy as np
    >>> import zelk_arrays as za
    >>> f = za.LegendreExpansion(1, 2, 1.0, [1.0, 2.0, 0.5, 0.5])
    >>> f([0.0, 0.25, 0.75])
    array([0.5, 1. , 2. ])
    >>> f.derivative(0.25)
    array(2.)

    Trailing axes hold several expansions on the same grid:

    >>> g = za.LegendreExpansion(0, 2, 1.0, np.array([[1.0, 10.0], [2.0, 20.0]]))
    >>> g(np.array([0.25, 0.75]))
    array([[ 1., 10.],
           [ 2., 20.]])
    """

    __slots__ = ("_T", "_coefficients", "_columns", "_degree", "_flat", "_n_t", "_trailing")

    def __init__(self, degree: int, n_t: int, T: float, coefficients: npt.ArrayLike) -> None:
        self._degree = _count(degree, "degree")
        self._n_t = _count(n_t, "n_t", minimum=1)
        self._T = _end_time(T, self._n_t)
        values = _float_array(_unmasked(coefficients, "coefficients"), "coefficients")
        expected = self._n_t * (self._degree + 1)
        if values.ndim == 0:
            raise ValueError("coefficients must have at least one dimension, got 0")
        if values.shape[0] != expected:
            raise ValueError(
                f"coefficients must hold n_t * (degree + 1) = {expected} values along axis 0, got {values.shape[0]}"
            )
        # A copy over immutable bytes: a writeable flag on the array alone could be set back to True.
        values = np.frombuffer(values.tobytes(), dtype=np.float64).reshape(values.shape)
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
    def T(self) -> float:
        """End of the time interval."""
        return self._T

    @property
    def coefficients(self) -> FloatArray:
        """The expansion's own float64 copy of the coefficients, of the shape given; read-only."""
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

        Examples
        --------
        >>> import zelk_arrays as za
        >>> f = za.LegendreExpansion(1, 1, 2.0, [1.0, 0.5])    # 1 + x / 2 with x = t - 1
        >>> f([0.0, 1.0, 2.0])
        array([0.5, 1. , 1.5])
        >>> f(1.0)
        array(1.)
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

        Examples
        --------
        >>> import zelk_arrays as za
        >>> f = za.LegendreExpansion(1, 1, 2.0, [1.0, 0.5])    # 1 + x / 2 with x = t - 1
        >>> f.derivative([0.0, 2.0])
        array([0.5, 0.5])
        """
        return self._evaluate(times, True)


def _held_dim(space: TimeSpace, k_begin: int, k_end: int) -> int:
    """The number of basis functions of sub-intervals [k_begin, k_end): the coefficients a range holds."""
    count = k_end - k_begin
    if isinstance(space, LagrangeSpace) and space.continuous:
        return count * space.degree + 1
    return count * (space.degree + 1)


class Expansion:
    """A function of a time space: coefficients in the space's basis, evaluated at many times.

    ``Expansion(space, c)(t)`` is ``sum_i c[i] v_i(t)`` for the basis
    functions v_i of any :class:`LagrangeSpace` or :class:`LegendreSpace`,
    on any grid, node family and layout: the values of
    ``basis_matrix(space, times) @ c``, formed without the matrix. For a
    Legendre space on ``n_t`` equal sub-intervals of [0, T] in the
    polynomial-major layout the values are :class:`LegendreExpansion`'s, bit
    for bit. A nodal expansion at one of its nodes is exactly the node's
    coefficient.

    ``intervals=(k_begin, k_end)`` makes an expansion of sub-intervals
    ``k_begin <= k < k_end`` only, as a rank of a distributed solver holds
    them: ``coefficients`` then has the range's basis functions alone, in the
    space's order (the global indices of the range, ascending; for the
    polynomial-major layout ``i * c + (k - k_begin)`` with ``c = k_end -
    k_begin``). It is evaluated at times of its own sub-intervals, in global
    time, with the bits of the whole expansion at the same times.

    ``coefficients`` may carry trailing axes, shape ``(n, ...)``: every
    column along them is an expansion of its own. The expansion keeps its
    own read-only float64 copy of them.

    Parameters
    ----------
    space : LagrangeSpace or LegendreSpace
        The space whose basis the coefficients are in.
    coefficients : array_like
        Shape ``(space.dim, ...)``, or for a range ``(n, ...)`` with ``n`` its
        basis functions.
    intervals : tuple of two ints or range, optional
        The sub-intervals ``[k_begin, k_end)`` held, as a pair or a range of
        step 1, at least one; all by default.

    Raises
    ------
    TypeError
        If ``space`` is not a space, ``coefficients`` not real numbers or a
        masked array, or ``intervals`` neither a pair of integers nor a range.
    ValueError
        If ``coefficients`` is 0-d or its first axis has the wrong length, or
        ``intervals`` is not a non-empty range of sub-intervals of step 1.

    See Also
    --------
    basis_matrix : The basis functions at many times, for many coefficient vectors.
    trace_vector : The basis functions at one time.
    LegendreExpansion : The uniform Legendre form.

    Notes
    -----
    Construction copies the coefficients once (8 bytes per value); a nodal
    space also keeps the node times of the sub-intervals held. Evaluation
    costs ``O(degree)`` operations per time and column (``O(degree**2)`` per
    time for nodal derivatives) and runs without the GIL.

    Examples
    --------
    >>> import numpy as np
    >>> import zelk_arrays as za
    >>> space = za.LagrangeSpace(2, za.TimeGrid([1.0, 2.0, 4.0]), nodes="lobatto")
    >>> u = za.Expansion(space, space.points**2)       # t**2 is in the space
    >>> u([1.5, 3.0])
    array([2.25, 9.  ])
    >>> u.derivative([1.5, 3.0])
    array([3., 6.])

    One-sided limits of a discontinuous function, and a range of it:

    >>> legendre = za.LegendreSpace(0, za.TimeGrid([0.0, 1.0, 3.0]))
    >>> w = za.Expansion(legendre, [1.0, 5.0])
    >>> w(1.0), w(1.0, side="left")
    (array(5.), array(1.))
    >>> za.Expansion(legendre, [5.0], intervals=(1, 2))([1.0, 3.0])
    array([5., 5.])
    """

    __slots__ = ("_arguments", "_coefficients", "_columns", "_flat", "_intervals", "_space", "_trailing", "_uniform")

    def __init__(
        self,
        space: LagrangeSpace | LegendreSpace,
        coefficients: npt.ArrayLike,
        *,
        intervals: tuple[int, int] | range | None = None,
    ) -> None:
        self._space = checked_space(space)
        k_begin, k_end = _intervals(intervals, space.n_t)
        if k_begin == k_end:
            raise ValueError(f"intervals must hold at least one sub-interval, got ({k_begin}, {k_end})")
        values = _float_array(_unmasked(coefficients, "coefficients"), "coefficients")
        expected = space.dim if (k_begin, k_end) == (0, space.n_t) else _held_dim(space, k_begin, k_end)
        if values.ndim == 0:
            raise ValueError("coefficients must have at least one dimension, got 0")
        if values.shape[0] != expected:
            held = "the space's dimension" if intervals is None else f"the {expected} basis functions of intervals"
            raise ValueError(f"coefficients must hold {held} = {expected} values along axis 0, got {values.shape[0]}")
        # A copy over immutable bytes: a writeable flag on the array alone could be set back to True.
        values = np.frombuffer(values.tobytes(), dtype=np.float64).reshape(values.shape)
        self._coefficients = values
        self._intervals = (k_begin, k_end)
        self._flat = values.reshape(-1)
        self._trailing = values.shape[1:]
        self._columns = math.prod(self._trailing)
        self._arguments = native_space(space, k_begin, k_end)
        # LegendreExpansion's own grid and layout: its kernels serve the right limits there, with the same bits.
        self._uniform = is_uniform_legendre(space) and (k_begin, k_end) == (0, space.n_t)

    @property
    def space(self) -> LagrangeSpace | LegendreSpace:
        """The space whose basis the coefficients are in."""
        return self._space

    @property
    def coefficients(self) -> FloatArray:
        """The expansion's own float64 copy of the coefficients, of the shape given; read-only."""
        return self._coefficients

    @property
    def intervals(self) -> tuple[int, int]:
        """``(k_begin, k_end)``: the sub-intervals held, ``(0, n_t)`` for the whole grid."""
        return self._intervals

    def __repr__(self) -> str:
        k_begin, k_end = self._intervals
        if (k_begin, k_end) == (0, self._space.n_t):
            return f"Expansion({self._space!r})"
        return f"Expansion({self._space!r}, intervals=({k_begin}, {k_end}))"

    def __reduce__(self) -> tuple[Any, ...]:
        # Rebuilt through __init__, which makes its own read-only copy.
        whole = self._intervals == (0, self._space.n_t)
        return (_restore_expansion, (self._space, self._coefficients, None if whole else self._intervals))

    def _evaluate(self, times: npt.ArrayLike, side: str, derivative: bool) -> FloatArray:
        left = is_left(side)
        if isinstance(times, _MaskedArray):
            return self._evaluate_masked(times, side, derivative)
        array = _float_array(times, "times")
        flat = array.reshape(-1)
        space = self._space
        if self._uniform and not left and within(flat, space.T):
            if self._columns == 1:
                values = _native.expansion_values(space.degree, space.n_t, space.T, self._flat, flat, derivative)
            else:
                values = _native.expansion_columns(
                    space.degree, space.n_t, space.T, self._flat, self._columns, flat, derivative
                )
            return _owned(values, np.float64).reshape(array.shape + self._trailing)
        k_begin, k_end = self._intervals
        values = _native.space_expansion_values(
            *self._arguments, k_begin, k_end, self._flat, self._columns, array.reshape(-1), left, derivative
        )
        return _owned(values, np.float64).reshape(array.shape + self._trailing)

    def _evaluate_masked(self, times: np.ma.MaskedArray[Any, Any], side: str, derivative: bool) -> FloatArray:
        mask = np.ma.getmaskarray(times)
        # Masked times may hold anything: they are evaluated at a time inside the first sub-interval held.
        points = self._space.grid.points
        k_begin = self._intervals[0]
        inside = points[k_begin] * 0.5 + points[k_begin + 1] * 0.5
        data = np.where(mask, inside, _float_array(np.ma.getdata(times), "times"))
        result = self._evaluate(data, side, derivative)
        mask = np.broadcast_to(mask.reshape(mask.shape + (1,) * len(self._trailing)), result.shape)
        return np.ma.masked_array(result, mask=mask.copy())

    def __call__(self, times: npt.ArrayLike, side: str = "right") -> FloatArray:
        """The expansion's values at ``times``, of shape ``times.shape + coefficients.shape[1:]``.

        Parameters
        ----------
        times : array_like
            A real number or an array of real numbers of any shape, in the
            sub-intervals held (the whole grid [start, end] by default).
        side : {"right", "left"}, optional
            Which sub-interval a grid point belongs to (default ``"right"``,
            the end point to the last one); ``"left"`` gives left limits.

        Returns
        -------
        numpy.ndarray
            float64 of shape ``times.shape + coefficients.shape[1:]``; masked
            where ``times`` is.

        Raises
        ------
        TypeError
            If ``times`` are not real numbers or ``side`` not a string.
        ValueError
            If a time lies outside the grid or is NaN, is the grid's start
            with ``side="left"``, or belongs to a sub-interval that the
            expansion does not hold; or ``side`` is unknown.
        MemoryError
            If the result does not fit in memory.

        Examples
        --------
        >>> import zelk_arrays as za
        >>> f = za.Expansion(za.LegendreSpace(1, za.TimeGrid([1.0, 3.0])), [1.0, 0.5])
        >>> f([1.0, 2.0, 3.0])
        array([0.5, 1. , 1.5])
        """
        return self._evaluate(times, side, False)

    def derivative(self, times: npt.ArrayLike, side: str = "right") -> FloatArray:
        """The expansion's time derivatives at ``times``, of shape ``times.shape + coefficients.shape[1:]``.

        Parameters
        ----------
        times : array_like
            A real number or an array of real numbers of any shape, in the
            sub-intervals held.
        side : {"right", "left"}, optional
            Which sub-interval a grid point belongs to (default ``"right"``).

        Returns
        -------
        numpy.ndarray
            float64 of shape ``times.shape + coefficients.shape[1:]``; masked
            where ``times`` is.

        Raises
        ------
        TypeError
            If ``times`` are not real numbers or ``side`` not a string.
        ValueError
            As for calling the expansion.
        MemoryError
            If the result does not fit in memory.

        Examples
        --------
        >>> import zelk_arrays as za
        >>> f = za.Expansion(za.LegendreSpace(1, za.TimeGrid([1.0, 3.0])), [1.0, 0.5])
        >>> f.derivative([1.0, 3.0])
        array([0.5, 0.5])
        """
        return self._evaluate(times, side, True)


def _restore_expansion(space: TimeSpace, coefficients: FloatArray, intervals: tuple[int, int] | None) -> Expansion:
    return Expansion(space, coefficients, intervals=intervals)
