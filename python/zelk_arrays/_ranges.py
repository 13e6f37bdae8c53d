"""Row ranges: which sub-intervals of the row space a matrix builder fills.

A distributed caller builds only the rows that a contiguous range of
sub-intervals [k_begin, k_end) owns, and asks beforehand which columns those
rows touch. Every matrix builder takes ``intervals=`` and registers how to
find its column range without building anything.
"""

from __future__ import annotations

from collections.abc import Callable
from typing import Any

from ._validation import _intervals

# builder -> function(*args, intervals=intervals, **kwargs) -> (column_begin, column_end)
_COLUMN_RANGES: dict[Callable[..., Any], Callable[..., tuple[int, int]]] = {}


# What every builder checks its intervals with: the one contract of _validation.
checked_intervals = _intervals

_Columns = Callable[..., tuple[int, int]]


def register_column_range(builder: Callable[..., Any]) -> Callable[[_Columns], _Columns]:
    """Decorator: records the decorated function as ``builder``'s column range."""

    def record(columns: _Columns) -> _Columns:
        _COLUMN_RANGES[builder] = columns
        return columns

    return record


def column_range(
    builder: Callable[..., Any], *args: Any, intervals: tuple[int, int] | range | None = None, **kwargs: Any
) -> range:
    """The columns that ``builder(*args, intervals=intervals, **kwargs)`` touches, without building it.

    A distributed solver asks this before it builds its rows, to know which
    entries of the vector it multiplies it needs from other processes.

    Parameters
    ----------
    builder : callable
        One of the matrix builders that take ``intervals``:
        :func:`time_mass_matrix`, :func:`time_derivative_matrix`,
        :func:`time_jump_matrix`, :func:`lagrange_prolongation_matrix`,
        :func:`lagrange_to_legendre_basis_transformation`,
        :func:`legendre_prolongation_matrix` or
        :func:`legendre_restriction_matrix`.
    *args, **kwargs
        The builder's own arguments, checked as the builder checks them.
    intervals : tuple of two ints or range, optional
        The builder's row range, a pair or a step-1 range; all rows by
        default.

    Returns
    -------
    range
        Global column numbers that hold every column with a stored entry in
        those rows (it may hold a few more where the layout interleaves, as
        the modal one does); empty for an empty range of sub-intervals.

    Raises
    ------
    TypeError
        If ``builder`` is not one of those builders, or an argument is of the
        wrong type for it.
    ValueError
        If an argument has a value the builder rejects.

    See Also
    --------
    time_mass_matrix, lagrange_prolongation_matrix : Builders that take ``intervals``.

    Notes
    -----
    Costs a few integer operations: nothing is allocated or built.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> za.column_range(za.lagrange_prolongation_matrix, 4, 8, 2, intervals=(2, 4))
    range(2, 5)
    >>> space = za.LagrangeSpace(1, 4)
    >>> za.column_range(za.time_mass_matrix, space, space, intervals=(2, 3))
    range(1, 4)
    >>> za.time_mass_matrix(space, space, intervals=(2, 3)).indices
    array([1, 2, 3], dtype=int32)
    """
    try:
        columns = _COLUMN_RANGES[builder]
    except (KeyError, TypeError):
        raise TypeError(f"column_range takes a matrix builder of zelk_arrays, not {builder!r}") from None
    begin, end = columns(*args, intervals=intervals, **kwargs)
    return range(begin, end)
