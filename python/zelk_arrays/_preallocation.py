"""Diagonal and off-diagonal entry counts per row, as a distributed AIJ matrix preallocates them."""

from __future__ import annotations

from collections.abc import Callable
from typing import Any

import numpy as np
import numpy.typing as npt

from ._results import int32_overflow
from ._validation import INT32_MAX, _index

_Counts = Callable[..., tuple[npt.NDArray[Any], npt.NDArray[Any]]]

# builder -> function(*args, intervals=intervals, columns=(c_begin, c_end), **kwargs) -> (d_nnz, o_nnz)
_COUNTS: dict[Callable[..., Any], _Counts] = {}


def register_counts(builder: Callable[..., Any]) -> Callable[[_Counts], _Counts]:
    """Decorator: records the decorated function as ``builder``'s count-only pass."""

    def record(counts: _Counts) -> _Counts:
        _COUNTS[builder] = counts
        return counts

    return record


def _column_block(columns: object, ncols: int) -> tuple[int, int]:
    ends: Any = (columns.start, columns.stop) if isinstance(columns, range) and columns.step == 1 else columns
    if not isinstance(ends, (tuple, list)) or len(ends) != 2:
        raise TypeError(f"columns must be a pair (c_begin, c_end) or a range of step 1, got {columns!r}")
    c_begin, c_end = _index(ends[0], "columns' c_begin"), _index(ends[1], "columns' c_end")
    if not 0 <= c_begin <= c_end <= ncols:
        raise ValueError(f"columns must satisfy 0 <= c_begin <= c_end <= {ncols}, got ({c_begin}, {c_end})")
    return c_begin, c_end


def native_counts(
    counts: tuple[memoryview, memoryview, int, int, int], width: int
) -> tuple[npt.NDArray[Any], npt.NDArray[Any]]:
    """A native count pass's (inside, outside as int32, nrows, ncols, bound), in the index type of the piece that
    ``_csr`` makes, with ``index_dtype`` of ``width``, from the build those counts stand for.

    The build takes int32 where the shape and the bound on its entries fit, as scipy does; int32 asked
    for is refused where the shape or the entries themselves do not fit, int64 asked for is taken.
    """
    inside, outside, nrows, ncols, bound = counts
    d_nnz, o_nnz = np.frombuffer(inside, np.int32), np.frombuffer(outside, np.int32)
    if width == 4:
        largest = max(nrows, ncols, int(d_nnz.sum()) + int(o_nnz.sum()))
        if largest > INT32_MAX:
            raise int32_overflow(largest)
    wide = width == 8 or (width == 0 and max(nrows, ncols, bound) > INT32_MAX)
    index = np.int64 if wide else np.int32
    return d_nnz.astype(index, copy=False), o_nnz.astype(index, copy=False)


def preallocation(
    builder: Callable[..., Any],
    *args: Any,
    intervals: tuple[int, int] | range | None = None,
    columns: tuple[int, int] | range,
    **kwargs: Any,
) -> tuple[npt.NDArray[Any], npt.NDArray[Any]]:
    """Per-row counts of the entries inside and outside a rank's column block, for PETSc's preallocation.

    ``d_nnz[i]`` counts the stored entries of local row ``i`` of
    ``builder(*args, intervals=intervals, **kwargs)`` whose column lies in
    ``[c_begin, c_end)`` (the rank's "diagonal" block), ``o_nnz[i]`` the
    others: the two arrays that ``MatMPIAIJSetPreallocation`` takes.

    Parameters
    ----------
    builder : callable
        A matrix builder of zelk_arrays, such as :func:`kron_sum` or
        :func:`time_mass_matrix`.
    *args, **kwargs
        The builder's own arguments (``index_dtype=`` included).
    intervals : tuple of two ints or range, optional
        The builder's ``intervals``: the rank's rows. Left out of the call
        when None, for builders without it.
    columns : tuple of two ints or range
        ``(c_begin, c_end)``: the columns the rank owns, as
        :func:`ownership` gives them for the global column count.

    Returns
    -------
    d_nnz, o_nnz : numpy.ndarray
        Integer arrays of one count per local row, of the piece's index type.

    Raises
    ------
    TypeError
        If ``columns`` is not a pair or range of integers, or as the builder
        raises it.
    ValueError
        If ``columns`` is not within the matrix's columns, or as the builder
        raises it.
    OverflowError
        As the builder raises it.
    MemoryError
        If the piece does not fit in memory.

    See Also
    --------
    ownership, row_range : The ranges of a rank.
    zelk_arrays.petsc.aij : Makes the PETSc matrix from the rank's piece.

    Notes
    -----
    The counts are those of the built piece, the matrix the builder
    returns, entry for entry; entries that a sum of terms drops as zero are
    not counted. :func:`kron_sum` and the time operators
    :func:`time_mass_matrix`, :func:`time_derivative_matrix` and
    :func:`time_jump_matrix` (every space, grid, layout and range) have a
    count-only pass: nothing is written, so the call takes no storage per
    entry, only the counts (and 16 bytes per row for :func:`kron_sum`'s
    pass). :func:`kron_sum` forms its values to see which sums vanish; a
    time operator's rows repeat the pattern of one sub-interval's block,
    moved along, which the pass counts as the build copies it (a run of
    such rows in one sweep, about as fast as the build writes them): the
    entries whose exact value is zero are left out alike, and so are those
    that the build rounds to zero (for a Lagrange space of other than
    equispaced nodes, or a discontinuous one, on a grid of varying steps,
    the mass rows are formed as the build forms them). A weighted mass
    matrix, whose zeros the weight places anywhere, and every other
    builder are built once (their storage, 12 or 16 bytes per entry, is
    needed for the time of the call) and their pattern counted in one pass.

    Examples
    --------
    >>> import zelk_arrays as za
    >>> space = za.LagrangeSpace(1, 4)
    >>> d_nnz, o_nnz = za.preallocation(za.time_mass_matrix, space, space, intervals=(2, 4), columns=(2, 5))
    >>> d_nnz.tolist(), o_nnz.tolist()
    ([2, 3, 2], [1, 0, 0])
    """
    try:
        counts = _COUNTS.get(builder)
    except TypeError:  # an unhashable object is no builder of this package: built and counted below
        counts = None
    if counts is not None:
        return counts(*args, intervals=intervals, columns=columns, **kwargs)
    if intervals is not None:
        kwargs["intervals"] = intervals
    return built_counts(builder(*args, **kwargs), columns)


def built_counts(piece: Any, columns: object) -> tuple[npt.NDArray[Any], npt.NDArray[Any]]:
    """The counts of a piece that has been built, read from its pattern in one pass."""
    c_begin, c_end = _column_block(columns, piece.shape[1])
    indptr = piece.indptr
    inside = np.cumsum((piece.indices >= c_begin) & (piece.indices < c_end), dtype=indptr.dtype)
    inside = np.concatenate((np.zeros(1, dtype=indptr.dtype), inside))
    d_nnz = inside[indptr[1:]] - inside[indptr[:-1]]
    return d_nnz, np.diff(indptr) - d_nnz
