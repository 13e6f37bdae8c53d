# Types of the native part of zelk_arrays; every entry point takes checked arguments from __init__.py.
from typing import final

import numpy as np
import numpy.typing as npt

# Results come as memoryviews of Buffer objects, which own the core's storage.
@final
class Buffer:
    """Storage of one result array of zelk_arrays, owned by the array."""

_CsrParts = tuple[memoryview, memoryview, memoryview, int, int, int]

def lagrange_points(degree: int, n_t: int, T: float, /) -> memoryview: ...
def prolongation_matrix(nt_coarse: int, nt_fine: int, degree: int, /) -> _CsrParts: ...
def transformation_matrix(degree: int, n_t: int, /) -> _CsrParts: ...
def basis_matrix(
    degree: int, n_t: int, T: float, times: npt.NDArray[np.float64], derivative: bool, /
) -> _CsrParts: ...
def expansion_values(
    degree: int,
    n_t: int,
    T: float,
    coefficients: npt.NDArray[np.float64],
    times: npt.NDArray[np.float64],
    derivative: bool,
    /,
) -> memoryview: ...
def vector_levels() -> tuple[str, list[str]]: ...
