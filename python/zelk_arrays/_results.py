"""numpy arrays and scipy CSR matrices over the buffers the native module returns."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, TypeVar

import numpy as np
import numpy.typing as npt

if TYPE_CHECKING:
    from scipy.sparse import csr_array

    # (data, indices, indptr, index item size, nrows, ncols) from the native module.
    _CsrParts = tuple[memoryview, memoryview, memoryview, int, int, int]

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
