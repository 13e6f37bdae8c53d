"""Sums of Kronecker products, the operators of space-time discretisations, written with their merged pattern."""

from __future__ import annotations

from collections.abc import Sequence
from typing import TYPE_CHECKING, Any

import numpy as np

from . import _native
from ._preallocation import _column_block, register_counts
from ._ranges import checked_intervals, register_column_range
from ._results import _csr, int32_overflow
from ._validation import INT32_MAX, _index_width

if TYPE_CHECKING:
    import numpy.typing as npt
    from scipy.sparse import csr_array


def _factor(matrix: object, name: str) -> Any:
    """``matrix`` as a canonical float64 CSR array (no copy where it already is one)."""
    from scipy import sparse

    if not (sparse.issparse(matrix) or isinstance(matrix, np.ndarray)):
        raise TypeError(f"{name} must be a scipy sparse matrix or a numpy array, not {type(matrix).__name__!r}")
    csr = sparse.csr_array(matrix)  # type: ignore[arg-type]
    if csr.ndim != 2:
        raise ValueError(f"{name} must be two-dimensional, got shape {csr.shape}")
    if csr.dtype.kind not in "biuf":
        raise TypeError(f"{name} must have real values, not {csr.dtype}")
    if csr.dtype != np.float64:
        csr = csr.astype(np.float64)
    if not csr.has_canonical_format:
        # Sorted columns without repeats, as the products' sum sees them; the caller's matrix stays as it is.
        csr = csr.copy()
        csr.sum_duplicates()
    return csr


def _checked_terms(terms: object) -> list[tuple[Any, Any]]:
    if isinstance(terms, (str, bytes)) or not isinstance(terms, Sequence):
        raise TypeError(f"terms must be a sequence of (time_matrix, space_matrix) pairs, not {type(terms).__name__!r}")
    if len(terms) == 0:
        raise ValueError("terms must hold at least one (time_matrix, space_matrix) pair")
    pairs = []
    for n, term in enumerate(terms):
        if not isinstance(term, (tuple, list)) or len(term) != 2:
            raise TypeError(f"terms[{n}] must be a pair (time_matrix, space_matrix)")
        pairs.append((_factor(term[0], f"terms[{n}]'s time matrix"), _factor(term[1], f"terms[{n}]'s space matrix")))
    time_shape, space_shape = pairs[0][0].shape, pairs[0][1].shape
    for n, (time, space) in enumerate(pairs):
        if time.shape != time_shape or space.shape != space_shape:
            raise ValueError(
                f"every term needs the shapes of the first, {time_shape} and {space_shape}; "
                f"terms[{n}] has {time.shape} and {space.shape}"
            )
    return pairs


def _parts(matrix: Any) -> tuple[object, ...]:
    return (
        matrix.data,
        np.ascontiguousarray(matrix.indices, dtype=np.int64),
        np.ascontiguousarray(matrix.indptr, dtype=np.int64),
        *matrix.shape,
    )


def kron_sum(
    terms: Sequence[tuple[Any, Any]],
    *,
    intervals: tuple[int, int] | range | None = None,
    index_dtype: object = None,
) -> csr_array:
    """The sum of Kronecker products ``kron(T_0, S_0) + kron(T_1, S_1) + ...`` as one CSR matrix.

    The operator of a space-time discretisation, such as
    ``kron(D + J, I) + kron(M, A)`` for a time derivative ``D``, jump ``J``
    and mass ``M`` and a space mass ``I`` and stiffness ``A``, written
    directly with the merged sparsity pattern: no intermediate products, no
    additions of matrices.

    Parameters
    ----------
    terms : list of tuple
        The ``(time_matrix, space_matrix)`` pairs: scipy sparse matrices or
        arrays, or numpy arrays, with
        real values (taken as float64). All time matrices have one shape
        ``(m_t, n_t)``, all space matrices one shape ``(m_s, n_s)``.
        Repeated entries of a factor are summed first.
    intervals : tuple of two ints or range, optional
        ``(r_begin, r_end)``: a range of **time-matrix rows**; the result
        holds the block rows ``r_begin * m_s ... r_end * m_s - 1`` of the
        whole sum, in that order, and all its columns. A time space's
        sub-intervals ``[k_begin, k_end)`` own the rows
        ``row_range(space, (k_begin, k_end))`` (see :func:`row_range`), so a
        rank of a distributed solver passes those. Default: all rows.
        (A time matrix built with ``intervals=`` holds only those rows
        already; then leave this out.)
    index_dtype : numpy.int32, numpy.int64 or None, optional
        The index type of the result; None (the default) takes int32 where
        every index and size fits, as scipy does, else int64.

    Returns
    -------
    scipy.sparse.csr_array
        float64, shape ``((r_end - r_begin) * m_s, n_t * n_s)``, with sorted
        column indices. Bit for bit the rows of
        ``sum(scipy.sparse.kron(T, S, format="csr") for T, S in terms)``:
        each entry is ``t * s`` for each term that has one there, added in
        the order of the terms. With two or more terms, entries that add up
        to zero (of either sign) are not stored, as scipy's addition leaves
        them out; a single term keeps its explicit zeros.

    Raises
    ------
    TypeError
        If ``terms`` is not a sequence of pairs of matrices, a factor has
        complex or non-numeric values, or ``index_dtype`` is not a type.
    ValueError
        If ``terms`` is empty, the shapes differ between terms,
        ``intervals`` is out of range, or ``index_dtype`` is neither int32
        nor int64.
    OverflowError
        If ``index_dtype`` is int32 and the result's largest index or size
        exceeds 2**31 - 1, or the result's size exceeds 64 bits.
    MemoryError
        If the result does not fit in memory; checked before it is written.

    See Also
    --------
    row_range : The time-matrix rows of a range of sub-intervals.
    ownership : PETSc's split of rows among ranks.
    preallocation : Diagonal and off-diagonal counts for a rank's rows.

    Notes
    -----
    The union of the space patterns that meet in a time column is merged
    once per set of terms, and where each entry of a time row goes is worked
    out once per sequence of such patterns; then each entry takes one product
    per term that has it and one write, without the GIL and interruptible
    with Ctrl-C. The result takes 12 bytes per stored entry (16 with int64
    indices). :func:`preallocation` counts its entries without writing it.

    Examples
    --------
    >>> import numpy as np
    >>> import scipy.sparse as sp
    >>> import zelk_arrays as za
    >>> time = za.LegendreSpace(0, 2)
    >>> D = za.time_derivative_matrix(time, time) + za.time_jump_matrix(time, time)
    >>> M = za.time_mass_matrix(time, time)
    >>> I, A = sp.eye_array(2, format="csr"), sp.csr_array([[2.0, -1.0], [-1.0, 2.0]])
    >>> za.kron_sum([(D, I), (M, A)]).toarray()
    array([[ 2. , -0.5,  0. ,  0. ],
           [-0.5,  2. ,  0. ,  0. ],
           [-1. ,  0. ,  2. , -0.5],
           [ 0. , -1. , -0.5,  2. ]])
    >>> za.kron_sum([(D, I), (M, A)], intervals=(1, 2)).shape
    (2, 4)
    """
    pairs = _checked_terms(terms)
    width = _index_width(index_dtype)
    r_begin, r_end = checked_intervals(intervals, pairs[0][0].shape[0])
    native_terms = [(*_parts(time), *_parts(space)) for time, space in pairs]
    return _csr(_native.kron_sum(native_terms, r_begin, r_end, width), index_dtype)


@register_column_range(kron_sum)
def _kron_sum_columns(terms: object, *, intervals: object = None) -> tuple[int, int]:
    pairs = _checked_terms(terms)
    r_begin, r_end = checked_intervals(intervals, pairs[0][0].shape[0])
    space_cols = pairs[0][1].shape[1]
    columns = [time.indices[time.indptr[r_begin] : time.indptr[r_end]] for time, _ in pairs]
    touched = np.concatenate(columns)
    if touched.size == 0 or space_cols == 0:
        return 0, 0
    return int(touched.min()) * space_cols, (int(touched.max()) + 1) * space_cols


@register_counts(kron_sum)
def _kron_sum_counts(
    terms: object, *, intervals: object = None, columns: object, index_dtype: object = None
) -> tuple[npt.NDArray[Any], npt.NDArray[Any]]:
    """preallocation's counts for kron_sum, from the factors alone: the piece is never written."""
    pairs = _checked_terms(terms)
    width = _index_width(index_dtype)
    r_begin, r_end = checked_intervals(intervals, pairs[0][0].shape[0])
    c_begin, c_end = _column_block(columns, pairs[0][0].shape[1] * pairs[0][1].shape[1])
    native_terms = [(*_parts(time), *_parts(space)) for time, space in pairs]
    inside, outside, nrows, ncols, bound = _native.kron_sum_counts(native_terms, r_begin, r_end, c_begin, c_end)
    # The index type kron_sum's piece would have: it is chosen from the bound on its entries.
    largest = max(nrows, ncols, bound)
    if width == 4 and largest > INT32_MAX:
        raise int32_overflow(largest)
    index = np.int64 if width == 8 or (width == 0 and largest > INT32_MAX) else np.int32
    return np.frombuffer(inside, np.int64).astype(index), np.frombuffer(outside, np.int64).astype(index)
