"""numpy arrays and scipy CSR matrices over the buffers the native module returns."""

from __future__ import annotations

from collections.abc import Callable
from typing import TYPE_CHECKING, Any, TypeVar

import numpy as np
import numpy.typing as npt

from ._validation import INT32_MAX, _index_width

if TYPE_CHECKING:
    from scipy.sparse import csr_array

    # (data, indices, indptr, index item size, nrows, ncols) from the native module.
    _CsrParts = tuple[memoryview, memoryview, memoryview, int, int, int]

_Scalar = TypeVar("_Scalar", bound=np.generic)


def _owned(buffer: memoryview, dtype: type[_Scalar]) -> npt.NDArray[_Scalar]:
    """A numpy array over a native buffer, which it keeps alive as its base."""
    return np.frombuffer(buffer, dtype=dtype)


def int32_overflow(largest: int) -> OverflowError:
    """The error for a matrix whose indices or sizes reach beyond int32."""
    return OverflowError(
        f"index_dtype=int32 cannot hold this matrix: its largest index or size, {largest}, exceeds 2147483647;"
        " use int64"
    )


def _csr(parts: _CsrParts, index_dtype: object = None) -> csr_array:
    """The matrix over the native parts, with the indices of ``index_dtype`` (None: as the native module chose)."""
    try:
        from scipy.sparse import csr_array
    except ImportError as error:
        raise ImportError("zelk_arrays needs scipy for its sparse matrices: pip install scipy") from error
    data, index_buffer, indptr_buffer, index_size, nrows, ncols = parts
    native: type[np.signedinteger[Any]] = np.int32 if index_size == 4 else np.int64
    indices, indptr = _owned(index_buffer, native), _owned(indptr_buffer, native)
    width = _index_width(index_dtype)
    if width not in (0, index_size):
        if width == 4:
            largest = max(nrows, ncols, int(indptr[-1]))
            if largest > INT32_MAX:
                raise int32_overflow(largest)
            indices, indptr = indices.astype(np.int32), indptr.astype(np.int32)
        else:
            indices, indptr = indices.astype(np.int64), indptr.astype(np.int64)
    # Without a fixed width, the native width is scipy's own choice for this shape: kept as it is.
    matrix = csr_array((_owned(data, np.float64), indices, indptr), shape=(nrows, ncols))
    if matrix.indices.dtype != indices.dtype:
        # scipy narrows int64 indices that fit int32; the caller asked for int64.
        matrix.indices, matrix.indptr = indices, indptr
    return matrix


def _built(build: Callable[..., _CsrParts], *args: object, index_dtype: object) -> csr_array:
    """The matrix of ``build(*args)``, with ``index_dtype`` checked before anything is built."""
    _index_width(index_dtype)
    return _csr(build(*args), index_dtype)
