"""Renumbering of built matrices between the Legendre layouts: polynomial-major and interval-major."""

from __future__ import annotations

from typing import TYPE_CHECKING, Final

import numpy as np
import numpy.typing as npt

if TYPE_CHECKING:
    from scipy.sparse import csr_array

IndexArray = npt.NDArray[np.int64]

POLYNOMIAL_MAJOR: Final = "polynomial-major"
INTERVAL_MAJOR: Final = "interval-major"
LAYOUTS: Final = (POLYNOMIAL_MAJOR, INTERVAL_MAJOR)


def interval_major_rows(n_functions: int, k_begin: int, k_end: int) -> IndexArray:
    """For the rows of sub-intervals [k_begin, k_end) in interval-major order, their polynomial-major positions."""
    width = k_end - k_begin
    functions = np.arange(n_functions, dtype=np.int64) * width
    return (np.arange(width, dtype=np.int64)[:, None] + functions).reshape(-1)


def interval_major_columns(n_functions: int, n_t: int) -> IndexArray:
    """Column ``i * n_t + k`` of the polynomial-major layout is column ``k * n_functions + i``."""
    columns = np.arange(n_t * n_functions, dtype=np.int64)
    return (columns % n_t) * n_functions + columns // n_t


def renumbered(matrix: csr_array, rows: IndexArray | None, columns: IndexArray | None) -> csr_array:
    """``matrix[rows]`` with column c moved to ``columns[c]``, the entries' bits and index type kept."""
    from scipy.sparse import csr_array

    indptr, indices, data = matrix.indptr, matrix.indices, matrix.data
    if rows is not None:
        lengths = np.diff(indptr)[rows]
        new_indptr = np.zeros(rows.size + 1, dtype=indptr.dtype)
        np.cumsum(lengths, out=new_indptr[1:])
        gather = np.repeat(indptr[rows] - new_indptr[:-1], lengths) + np.arange(int(new_indptr[-1]), dtype=np.int64)
        indptr, indices, data = new_indptr, indices[gather], data[gather]
    if columns is not None:
        indices = columns[indices].astype(indices.dtype)
    result = csr_array((data, indices, indptr), shape=(indptr.size - 1, matrix.shape[1]))
    result.sort_indices()
    return result
