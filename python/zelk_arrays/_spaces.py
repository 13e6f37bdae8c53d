"""The two time spaces on a grid of ``n_t`` equal sub-intervals of [0, T].

A space describes a basis and its global numbering; it stores nothing per
degree of freedom. The operator builders read a space's kind, degree and
grid, and two spaces are on the same grid when their ``n_t`` and ``T`` agree.
"""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

from ._validation import COUNT_MAX, _count, _end_time

IndexArray = npt.NDArray[np.int64]


class _TimeSpace:
    """What both spaces share: the grid, the checks and value semantics."""

    __slots__ = ("_T", "_degree", "_dim", "_n_t")
    _minimum_degree = 0

    def __init__(self, degree: int, n_t: int, T: float = 1.0) -> None:
        self._degree = _count(degree, "degree", self._minimum_degree)
        self._n_t = _count(n_t, "n_t", 1)
        self._T = _end_time(T, *self._steps())
        self._dim = self._dimension()
        if self._dim > COUNT_MAX:
            raise OverflowError(f"the space's dimension {self._dim} exceeds 2**63 - 1")

    def _steps(self) -> tuple[int, ...]:
        """The grid's steps per [0, T]: its nodes are T / (product) apart."""
        return (self._n_t,)

    def _dimension(self) -> int:
        raise NotImplementedError

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
    def dim(self) -> int:
        """Number of basis functions."""
        return self._dim

    def _checked_local(self, k: int, i: int) -> tuple[int, int]:
        k = _count(k, "k")
        i = _count(i, "i")
        if k >= self._n_t:
            raise ValueError(f"k must be below n_t = {self._n_t}, got {k}")
        if i > self._degree:
            raise ValueError(f"i must be at most degree = {self._degree}, got {i}")
        return k, i

    def __repr__(self) -> str:
        return f"{type(self).__name__}(degree={self._degree}, n_t={self._n_t}, T={self._T!r})"

    def __eq__(self, other: object) -> bool:
        if type(other) is not type(self):
            return NotImplemented
        assert isinstance(other, _TimeSpace)
        return (self._degree, self._n_t, self._T) == (other._degree, other._n_t, other._T)

    def __hash__(self) -> int:
        return hash((type(self).__name__, self._degree, self._n_t, self._T))


class LagrangeSpace(_TimeSpace):
    """Continuous piecewise polynomials of ``degree`` >= 1 in the nodal basis.

    On each sub-interval the basis functions are the Lagrange polynomials of
    its ``degree + 1`` equidistant nodes; neighbouring sub-intervals share
    their end node, so the functions are continuous. Node j of sub-interval k
    has the global index ``k * degree + j`` and ``dim = n_t * degree + 1``:
    the layout of :func:`get_lagrange_points` and
    :func:`lagrange_prolongation_matrix`.

    A space stores nothing per basis function: it is cheap to create,
    hashable, and equal to another space of the same kind, degree and grid.

    Parameters
    ----------
    degree : int
        Polynomial degree on each sub-interval, at least 1.
    n_t : int
        Number of equal sub-intervals of [0, T], at least 1.
    T : float, optional
        End of the time interval, positive and finite (default 1.0).

    Attributes
    ----------
    degree : int
        Polynomial degree on each sub-interval.
    n_t : int
        Number of equal sub-intervals of [0, T].
    T : float
        End of the time interval.
    dim : int
        Number of basis functions, ``n_t * degree + 1``.

    Raises
    ------
    TypeError
        If ``degree`` or ``n_t`` is not an integer (bool is not one) or ``T`` not a real number.
    ValueError
        If ``degree`` < 1, ``n_t`` < 1 (negative counts included), or ``T`` is
        not positive and finite or the node spacing ``T / (n_t * degree)`` is
        not a normal double.
    OverflowError
        If ``degree``, ``n_t`` or ``dim`` exceeds 2**63 - 1.

    See Also
    --------
    LegendreSpace : The discontinuous modal space on the same grid.
    get_lagrange_points : The nodes, in this space's global numbering.
    time_mass_matrix, time_derivative_matrix, time_jump_matrix : Operators between two spaces.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> space = za.LagrangeSpace(2, 3, T=1.5)
    >>> space
    LagrangeSpace(degree=2, n_t=3, T=1.5)
    >>> space.dim, space.index(1, 2), space.index(2, 0)
    (7, 4, 4)
    >>> space.local_dofs()
    array([[0, 1, 2],
           [2, 3, 4],
           [4, 5, 6]])
    >>> space == za.LagrangeSpace(2, 3, 1.5)
    True
    """

    __slots__ = ()
    _minimum_degree = 1

    def _steps(self) -> tuple[int, ...]:
        return (self._n_t, self._degree)

    def _dimension(self) -> int:
        return self._n_t * self._degree + 1

    def index(self, k: int, i: int) -> int:
        """Global index of node ``i`` (0 <= i <= degree) of sub-interval ``k``: ``k * degree + i``.

        Parameters
        ----------
        k : int
            Sub-interval, ``0 <= k < n_t``.
        i : int
            Local node, ``0 <= i <= degree``.

        Returns
        -------
        int
            The global index; the end node of sub-interval k and the first
            node of sub-interval k + 1 have the same one.

        Raises
        ------
        TypeError
            If ``k`` or ``i`` is not an integer.
        ValueError
            If ``k`` or ``i`` is out of range.
        """
        k, i = self._checked_local(k, i)
        return k * self._degree + i

    def local_dofs(self) -> IndexArray:
        """The global indices of every sub-interval's basis functions.

        Returns
        -------
        numpy.ndarray
            int64 array of shape ``(n_t, degree + 1)``: row k holds
            sub-interval k's global indices, local basis function by local
            basis function. It takes ``8 * n_t * (degree + 1)`` bytes.
        """
        starts = np.arange(self._n_t, dtype=np.int64) * self._degree
        return starts[:, None] + np.arange(self._degree + 1, dtype=np.int64)

    def interval_major(self) -> IndexArray:
        """The identity permutation: the nodal layout already runs sub-interval by sub-interval.

        Returns
        -------
        numpy.ndarray
            int64 array ``arange(dim)``, for code that treats both spaces alike.
        """
        return np.arange(self._dim, dtype=np.int64)


class LegendreSpace(_TimeSpace):
    """Discontinuous piecewise polynomials of ``degree`` >= 0 in the Legendre basis.

    Basis function i on sub-interval k is P_i of the local coordinate
    x in [-1, 1] there (P_i(1) = 1) and zero elsewhere; its global index is
    ``i * n_t + k`` and ``dim = n_t * (degree + 1)``: the coefficient layout
    of :class:`LegendreExpansion` and of
    :func:`lagrange_to_legendre_basis_transformation`.

    A space stores nothing per basis function: it is cheap to create,
    hashable, and equal to another space of the same kind, degree and grid.

    Parameters
    ----------
    degree : int
        Polynomial degree on each sub-interval, at least 0.
    n_t : int
        Number of equal sub-intervals of [0, T], at least 1.
    T : float, optional
        End of the time interval, positive and finite (default 1.0).

    Attributes
    ----------
    degree : int
        Polynomial degree on each sub-interval.
    n_t : int
        Number of equal sub-intervals of [0, T].
    T : float
        End of the time interval.
    dim : int
        Number of basis functions, ``n_t * (degree + 1)``.

    Raises
    ------
    TypeError
        If ``degree`` or ``n_t`` is not an integer (bool is not one) or ``T`` not a real number.
    ValueError
        If ``degree`` < 0, ``n_t`` < 1, or ``T`` is not positive and finite
        or the step ``T / n_t`` is not a normal double.
    OverflowError
        If ``degree``, ``n_t`` or ``dim`` exceeds 2**63 - 1.

    See Also
    --------
    LagrangeSpace : The continuous nodal space on the same grid.
    LegendreExpansion : Evaluates coefficients in this space's layout.
    time_mass_matrix, time_derivative_matrix, time_jump_matrix : Operators between two spaces.

    Examples
    --------
    >>> import numpy as np
    >>> import zelk_arrays as za
    >>> space = za.LegendreSpace(1, 3)
    >>> space.dim, space.index(2, 1)
    (6, 5)
    >>> space.local_dofs()
    array([[0, 3],
           [1, 4],
           [2, 5]])

    ``interval_major`` reorders coefficients sub-interval by sub-interval:

    >>> coefficients = np.array([10.0, 20.0, 30.0, 11.0, 21.0, 31.0])
    >>> coefficients[space.interval_major()]
    array([10., 11., 20., 21., 30., 31.])
    """

    __slots__ = ()

    def _dimension(self) -> int:
        return self._n_t * (self._degree + 1)

    def index(self, k: int, i: int) -> int:
        """Global index of P_i (0 <= i <= degree) on sub-interval ``k``: ``i * n_t + k``.

        Parameters
        ----------
        k : int
            Sub-interval, ``0 <= k < n_t``.
        i : int
            Legendre polynomial, ``0 <= i <= degree``.

        Returns
        -------
        int
            The global index.

        Raises
        ------
        TypeError
            If ``k`` or ``i`` is not an integer.
        ValueError
            If ``k`` or ``i`` is out of range.
        """
        k, i = self._checked_local(k, i)
        return i * self._n_t + k

    def local_dofs(self) -> IndexArray:
        """The global indices of every sub-interval's basis functions.

        Returns
        -------
        numpy.ndarray
            int64 array of shape ``(n_t, degree + 1)``: row k holds
            sub-interval k's global indices, local basis function by local
            basis function. It takes ``8 * n_t * (degree + 1)`` bytes.
        """
        polynomials = np.arange(self._degree + 1, dtype=np.int64) * self._n_t
        return np.arange(self._n_t, dtype=np.int64)[:, None] + polynomials

    def interval_major(self) -> IndexArray:
        """Permutation ``order`` with ``order[k * (degree + 1) + i] = i * n_t + k``.

        ``x[order]`` lists the coefficients sub-interval by sub-interval, as
        time-slab and time-parallel codes keep them; ``y[order] = x`` (or
        ``x[np.argsort(order)]``) goes back.

        Returns
        -------
        numpy.ndarray
            int64 array of ``dim`` indices.
        """
        return self.local_dofs().reshape(-1)


TimeSpace = LagrangeSpace | LegendreSpace
