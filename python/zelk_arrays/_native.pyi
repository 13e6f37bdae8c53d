# Types of the native part of zelk_arrays; every entry point takes checked arguments from __init__.py.
from typing import final

import numpy as np
import numpy.typing as npt

@final
class Buffer:
    """Storage of one result array of zelk_arrays, owned by the array."""

    def __buffer__(self, flags: int, /) -> memoryview: ...

CsrParts = tuple[Buffer, Buffer, Buffer, int, int, int]

def lagrange_points(degree: int, n_t: int, T: float, /) -> Buffer: ...
def prolongation_matrix(nt_coarse: int, nt_fine: int, degree: int, /) -> CsrParts: ...
def transformation_matrix(degree: int, n_t: int, /) -> CsrParts: ...
def basis_matrix(
    degree: int, n_t: int, T: float, times: npt.NDArray[np.float64], derivative: bool, /
) -> CsrParts: ...
def expansion_values(
    degree: int,
    n_t: int,
    T: float,
    coefficients: npt.NDArray[np.float64],
    times: npt.NDArray[np.float64],
    derivative: bool,
    /,
) -> Buffer: ...
