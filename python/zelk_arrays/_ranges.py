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


def column_range(builder: Callable[..., Any], *args: Any, intervals: object = None, **kwargs: Any) -> range:
    """The columns that ``builder(*args, intervals=intervals, **kwargs)`` touches, without building it.

    Returns a ``range`` of global column numbers that holds every column
    with a stored entry in those rows (it may hold a few more where the
    layout interleaves, as the modal one does); empty for an empty range of
    sub-intervals.
    """
    try:
        columns = _COLUMN_RANGES[builder]
    except (KeyError, TypeError):
        raise TypeError(f"column_range takes a matrix builder of zelk_arrays, not {builder!r}") from None
    begin, end = columns(*args, intervals=intervals, **kwargs)
    return range(begin, end)
