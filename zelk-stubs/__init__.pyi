# Type information and editor documentation for the zelk extension module, shipped beside it as a stub-only package.
"""Piecewise Legendre and Lagrange building blocks for time discretisations.

The time interval [0, T] is split into ``n_t`` equal sub-intervals of length
h = T / n_t; on each of them a function is a polynomial of degree ``degree``,
described either by its values at equidistant Lagrange points (nodal) or by
its Legendre coefficients (modal).

Coefficient layout: a piecewise Legendre expansion is a flat sequence of
``n_t * (degree + 1)`` floats grouped by polynomial first and by sub-interval
second; entry ``i * n_t + k`` is the coefficient of P_i on sub-interval k.

Sparse matrices are returned as a tuple ``(rows, cols, values)`` of a list of
int row indices, a list of int column indices and a list of float values,
sorted by row and by column within a row, explicit zeros kept, without the
shape (each function's docstring gives it).

Errors: besides ``TypeError``, ``OverflowError``, ``RuntimeError`` and
``MemoryError``, invalid requests raise ``PanicException``. It derives from
``BaseException``, not from ``Exception``, so ``except Exception`` does not
catch it; the module does not export the type. Catch it like this::

    try:
        zelk.lagrange_prolongation_matrix(4, 8, 0)
    except Exception:
        raise  # ordinary errors: TypeError, OverflowError, ...
    except BaseException as error:
        if type(error).__name__ != "PanicException":
            raise  # KeyboardInterrupt, SystemExit, ...
        print("invalid request:", error)
"""

from collections.abc import Iterator, Sequence
from typing import Any, Protocol, SupportsFloat, SupportsIndex, TypeAlias, final, type_check_only

__all__ = [
    "sum_as_string",
    "lagrange_to_legendre_basis_transformation",
    "lagrange_prolongation_matrix",
    "get_lagrange_points",
    "LegendreBasis",
    "LegendreBasisEvaluator",
]

@type_check_only
class _FloatArray(Protocol):
    """A one-dimensional array of numbers, such as a ``numpy.ndarray`` of float64.

    The module reads any sequence whose items convert to float; NumPy arrays
    qualify without a ``.tolist()`` (which is still faster for large arrays).
    """

    def __array__(self) -> Any: ...
    def __len__(self) -> int: ...
    def __getitem__(self, index: SupportsIndex, /) -> SupportsFloat: ...
    def __iter__(self) -> Iterator[Any]: ...

_Floats: TypeAlias = Sequence[float] | _FloatArray

def sum_as_string(a: int, b: int) -> str:
    """Formats the sum of two numbers as string.

    Parameters:
        a, b: unsigned 64-bit integers (``int`` or ``bool``, or objects with
            ``__index__``), 0 to 2**64 - 1.

    Returns:
        The exact sum in decimal digits, without sign or separators; a sum of
        2**64 or more is not wrapped.

    Raises:
        TypeError: wrong arguments, or a value that is no integer (``1.0`` too),
            naming the parameter: ``argument 'a': ...``.
        OverflowError: a negative value, or one of 2**64 or more.
    """

def lagrange_to_legendre_basis_transformation(degree: int, n_t: int) -> tuple[list[int], list[int], list[float]]:
    """Sparse matrix that turns nodal values into Legendre coefficients.

    Multiplying it with the values at the ``n_t * degree + 1`` Lagrange points
    of ``get_lagrange_points(degree, n_t, T)`` (any T) gives the coefficients
    of the piecewise interpolant in the coefficient layout that
    ``LegendreBasis.evaluate_at`` and ``LegendreBasisEvaluator.set_dofs`` read.

    Parameters:
        degree: polynomial degree, at least 1.
        n_t: number of sub-intervals.

    Returns:
        Triplets ``(rows, cols, values)`` of a matrix of shape
        ``((degree + 1) * n_t, n_t * degree + 1)``; row ``i * n_t + k`` gives
        the coefficient of P_i on sub-interval k. Pass the shape yourself when
        building a ``scipy.sparse`` matrix.

    Raises:
        PanicException: ``degree`` is 0, or the sizes overflow
            (``capacity overflow``). Derives from BaseException; see the
            module documentation for how to catch it.
        MemoryError: the result does not fit in memory.
        TypeError, OverflowError: an argument is no integer, or is negative
            or 2**64 or more.
    """

def lagrange_prolongation_matrix(nt_coarse: int, nt_fine: int, degree: int) -> tuple[list[int], list[int], list[float]]:
    """Sparse matrix that maps nodal values between two grids of the same degree.

    Evaluates the coarse grid's piecewise interpolant at the Lagrange points of
    the fine grid. Both grids cover the same interval; the fine grid need not
    be a refinement of the coarse one.

    Parameters:
        nt_coarse: sub-intervals of the grid the values come from, at least 1.
        nt_fine: sub-intervals of the grid the values go to, at least 1.
        degree: polynomial degree of both grids, at least 1.

    Returns:
        Triplets ``(rows, cols, values)`` of a matrix of shape
        ``(nt_fine * degree + 1, nt_coarse * degree + 1)``; row r holds the
        weights of fine point r. Exact zeros are left out.

    Raises:
        PanicException: ``degree``, ``nt_coarse`` or ``nt_fine`` is 0, or the
            sizes overflow (``capacity overflow``). Derives from
            BaseException; see the module documentation for how to catch it.
        MemoryError: the result does not fit in memory.
        TypeError, OverflowError: an argument is no integer, or is negative
            or 2**64 or more.
    """

def get_lagrange_points(degree: int, n_t: int, T: float) -> list[float]:
    """The global list of Lagrange points of the grid (degree, n_t, T).

    Parameters:
        degree: polynomial degree; each sub-interval carries ``degree + 1``
            equidistant points, shared end points appear once.
        n_t: number of equal sub-intervals of [0, T].
        T: end of the time interval.

    Returns:
        ``n_t * degree + 1`` floats in increasing order (for T > 0), starting
        at 0.0; the last one is ``T`` itself.

    Raises:
        PanicException: the point count overflows (``capacity overflow``).
            Derives from BaseException; see the module documentation.
        MemoryError: the list does not fit in memory.
        TypeError, OverflowError: wrong argument types or integer ranges.
    """

@final
class LegendreBasis:
    """Piecewise Legendre expansions on the grid (degree, n_t, T).

    The coefficients come with every ``evaluate_at`` call; to evaluate one
    expansion many times, use ``LegendreBasisEvaluator``. Instances are
    immutable and cannot be subclassed.
    """

    def __new__(cls, degree: int, n_t: int, T: float) -> LegendreBasis:
        """Make a basis of ``degree`` on ``n_t`` equal sub-intervals of [0, T].

        Parameters:
            degree: polynomial degree p; each sub-interval has p + 1
                coefficients, for P_0 ... P_p.
            n_t: number of sub-intervals. 0 is accepted here, but every
                evaluation then raises PanicException.
            T: end of the time interval, which starts at 0.

        Raises:
            TypeError, OverflowError: wrong argument types or integer ranges.
        """

    def evaluate_at(self, t: float, legendre_vals: _Floats) -> float:
        """Value at time t of the expansion with the given coefficients.

        Parameters:
            t: the time. Times outside [0, T] are evaluated at the nearest end;
                a time on the boundary of two sub-intervals belongs to the one
                on its right.
            legendre_vals: at least ``n_t * (degree + 1)`` numbers (a list,
                tuple or NumPy array) in the coefficient layout: entry
                ``i * n_t + k`` is the coefficient of P_i on sub-interval k.
                Values beyond the first ``n_t * (degree + 1)`` are ignored.

        Returns:
            The value as a float.

        Raises:
            PanicException: ``legendre_vals`` is too short ("Matrix view: input
                data buffer too small."), or n_t is 0. Derives from
                BaseException; see the module documentation.
            TypeError: ``t`` or an item is no number, or ``legendre_vals`` is no
                sequence (a str, dict, set or generator).
        """

    def evaluate_all_basis_functions(self, t: float) -> list[float]:
        """Values of all basis functions at time t.

        Parameters:
            t: the time, located as in ``evaluate_at``.

        Returns:
            ``n_t * (degree + 1)`` floats in the coefficient layout: entry
            ``i * n_t + k`` is P_i(x) on sub-interval k; only the entries of
            the sub-interval that contains t are non-zero. Its dot product with
            coefficients equals ``evaluate_at(t, coefficients)`` up to rounding.

        Raises:
            PanicException: n_t is 0, or the size overflows. Derives from
                BaseException; see the module documentation.
            MemoryError: the list does not fit in memory.
            TypeError: ``t`` is no number.
        """

    def evaluate_all_basis_function_derivatives(self, t: float) -> list[float]:
        """Time derivatives of all basis functions at time t.

        Parameters:
            t: the time, located as in ``evaluate_at``.

        Returns:
            ``n_t * (degree + 1)`` floats in the coefficient layout: entry
            ``i * n_t + k`` is dP_i/dt = (2 / h) * P_i'(x) on sub-interval k,
            zero outside the sub-interval that contains t.

        Raises:
            PanicException: n_t is 0, or the size overflows. Derives from
                BaseException; see the module documentation.
            MemoryError: the list does not fit in memory.
            TypeError: ``t`` is no number.
        """

@final
class LegendreBasisEvaluator:
    """Class to evaluate legendre basis more often without copying the dofs from python each time"""

    def __new__(cls, degree: int, n_t: int, T: float) -> LegendreBasisEvaluator:
        """Make an evaluator for the grid (degree, n_t, T), holding the zero expansion.

        Parameters:
            degree: polynomial degree p.
            n_t: number of equal sub-intervals of [0, T]. 0 is accepted here
                (``set_dofs`` then takes only an empty sequence), but every
                evaluation raises PanicException.
            T: end of the time interval, which starts at 0.

        Raises:
            PanicException: ``n_t * (degree + 1)`` overflows
                (``capacity overflow``). Derives from BaseException.
            MemoryError: the coefficients do not fit in memory.
            TypeError, OverflowError: wrong argument types or integer ranges.
        """

    def set_dofs(self, legendre_vals: _Floats) -> None:
        """Store the coefficients that later evaluations use.

        Parameters:
            legendre_vals: exactly ``n_t * (degree + 1)`` numbers (a list,
                tuple or NumPy array) in the coefficient layout: entry
                ``i * n_t + k`` is the coefficient of P_i on sub-interval k.

        Raises:
            PanicException: the length differs from ``n_t * (degree + 1)``;
                the message gives both lengths. Derives from BaseException;
                see the module documentation. The previous coefficients stay.
            RuntimeError: "Already borrowed", if the object is in use (only
                possible from Python code run inside a conversion).
            TypeError: ``legendre_vals`` is no sequence of numbers.
        """

    def evaluate_at(self, t: float) -> float:
        """Value of the stored expansion at time t.

        Parameters:
            t: the time. Times outside [0, T] are evaluated at the nearest end;
                a time on the boundary of two sub-intervals belongs to the one
                on its right.

        Returns:
            The value as a float; 0.0 before the first ``set_dofs``.

        Raises:
            PanicException: n_t is 0. Derives from BaseException; see the
                module documentation.
            RuntimeError: "Already mutably borrowed", if called while
                ``set_dofs`` runs (from Python code inside its conversion).
            TypeError: ``t`` is no number.
        """

    def evaluate_derivative_at(self, t: float) -> float:
        """Time derivative of the stored expansion at time t.

        Parameters:
            t: the time, located as in ``evaluate_at``.

        Returns:
            du/dt = (2 / h) * sum of the coefficients times P_i'(x), as a float.

        Raises:
            PanicException: n_t is 0. Derives from BaseException; see the
                module documentation.
            RuntimeError: "Already mutably borrowed", if called while
                ``set_dofs`` runs.
            TypeError: ``t`` is no number.
        """
