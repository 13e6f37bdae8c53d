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
def prolongation_matrix(nt_coarse: int, nt_fine: int, degree: int, k_begin: int, k_end: int, /) -> _CsrParts: ...
def prolongation_columns(nt_coarse: int, nt_fine: int, degree: int, k_begin: int, k_end: int, /) -> tuple[int, int]: ...
def transformation_matrix(degree: int, n_t: int, k_begin: int, k_end: int, /) -> _CsrParts: ...
def basis_matrix(degree: int, n_t: int, T: float, times: npt.NDArray[np.float64], derivative: bool, /) -> _CsrParts: ...
def expansion_values(
    degree: int,
    n_t: int,
    T: float,
    coefficients: npt.NDArray[np.float64],
    times: npt.NDArray[np.float64],
    derivative: bool,
    /,
) -> memoryview: ...
def time_mass_matrix(
    trial_is_legendre: bool,
    trial_degree: int,
    test_is_legendre: bool,
    test_degree: int,
    n_t: int,
    T: float,
    k_begin: int,
    k_end: int,
    /,
) -> _CsrParts: ...
def time_derivative_matrix(
    trial_is_legendre: bool,
    trial_degree: int,
    test_is_legendre: bool,
    test_degree: int,
    n_t: int,
    T: float,
    k_begin: int,
    k_end: int,
    /,
) -> _CsrParts: ...
def time_jump_matrix(
    trial_is_legendre: bool,
    trial_degree: int,
    test_is_legendre: bool,
    test_degree: int,
    n_t: int,
    T: float,
    k_begin: int,
    k_end: int,
    /,
) -> _CsrParts: ...
def time_operator_counts(
    op: int,
    trial_is_legendre: bool,
    trial_degree: int,
    test_is_legendre: bool,
    test_degree: int,
    n_t: int,
    T: float,
    k_begin: int,
    k_end: int,
    column_begin: int,
    column_end: int,
    /,
) -> tuple[memoryview, memoryview, int, int, int]: ...
def kron_sum(terms: list[tuple[object, ...]], row_begin: int, row_end: int, index_width: int, /) -> _CsrParts: ...
def kron_sum_counts(
    terms: list[tuple[object, ...]], row_begin: int, row_end: int, column_begin: int, column_end: int, /
) -> tuple[memoryview, memoryview, int, int, int]: ...
def legendre_prolongation_matrix(
    nt_coarse: int, nt_fine: int, degree: int, k_begin: int, k_end: int, /
) -> _CsrParts: ...
def legendre_restriction_matrix(
    nt_coarse: int, nt_fine: int, degree: int, k_begin: int, k_end: int, /
) -> _CsrParts: ...
def time_quadrature(
    n_points: int,
    n_t: int,
    T: float,
    rule: int,
    k_begin: int = 0,
    k_end: int | None = None,
    weights_once: bool = False,
    /,
) -> tuple[memoryview, memoryview]: ...
def load_contraction(
    weights: npt.NDArray[np.float64],
    values: npt.NDArray[np.float64],
    columns: int,
    basis: npt.NDArray[np.float64],
    n: int,
    /,
) -> memoryview: ...
def grid_quadrature(n_points: int, points: npt.NDArray[np.float64], rule: int, /) -> tuple[memoryview, memoryview]: ...
def grid_time_mass_matrix(
    trial_is_legendre: bool,
    trial_degree: int,
    test_is_legendre: bool,
    test_degree: int,
    points: npt.NDArray[np.float64],
    k_begin: int,
    k_end: int,
    /,
) -> _CsrParts: ...
def grid_time_mass_matrix_counts(
    trial_is_legendre: bool,
    trial_degree: int,
    test_is_legendre: bool,
    test_degree: int,
    points: npt.NDArray[np.float64],
    k_begin: int,
    k_end: int,
    column_begin: int,
    column_end: int,
    /,
) -> tuple[memoryview, memoryview, int, int, int]: ...
def time_operator_in_layout(
    op: int,
    trial_is_legendre: bool,
    trial_degree: int,
    trial_interval_major: bool,
    test_is_legendre: bool,
    test_degree: int,
    test_interval_major: bool,
    points: npt.NDArray[np.float64] | None,
    n_t: int,
    T: float,
    k_begin: int,
    k_end: int,
    /,
) -> _CsrParts: ...
def time_operator_in_layout_counts(
    op: int,
    trial_is_legendre: bool,
    trial_degree: int,
    trial_interval_major: bool,
    test_is_legendre: bool,
    test_degree: int,
    test_interval_major: bool,
    points: npt.NDArray[np.float64] | None,
    n_t: int,
    T: float,
    k_begin: int,
    k_end: int,
    column_begin: int,
    column_end: int,
    /,
) -> tuple[memoryview, memoryview, int, int, int]: ...
def general_time_operator(
    op: int,
    trial_is_legendre: bool,
    trial_degree: int,
    trial_family: int,
    trial_continuous: bool,
    trial_interval_major: bool,
    test_is_legendre: bool,
    test_degree: int,
    test_family: int,
    test_continuous: bool,
    test_interval_major: bool,
    points: npt.NDArray[np.float64],
    k_begin: int,
    k_end: int,
    /,
) -> _CsrParts: ...
def general_time_operator_counts(
    op: int,
    trial_is_legendre: bool,
    trial_degree: int,
    trial_family: int,
    trial_continuous: bool,
    trial_interval_major: bool,
    test_is_legendre: bool,
    test_degree: int,
    test_family: int,
    test_continuous: bool,
    test_interval_major: bool,
    points: npt.NDArray[np.float64],
    k_begin: int,
    k_end: int,
    column_begin: int,
    column_end: int,
    /,
) -> tuple[memoryview, memoryview, int, int, int]: ...
def weighted_time_mass_matrix(
    trial_is_legendre: bool,
    trial_degree: int,
    trial_family: int,
    trial_continuous: bool,
    trial_interval_major: bool,
    test_is_legendre: bool,
    test_degree: int,
    test_family: int,
    test_continuous: bool,
    test_interval_major: bool,
    weight_is_legendre: bool,
    weight_degree: int,
    weight_family: int,
    weight_continuous: bool,
    weight_interval_major: bool,
    coefficients: npt.NDArray[np.float64],
    points: npt.NDArray[np.float64],
    step: float,
    k_begin: int,
    k_end: int,
    /,
) -> _CsrParts: ...
def collocation_matrices(n: int, rule: int, /) -> tuple[memoryview, memoryview, memoryview, memoryview]: ...
def space_transfer_matrix(
    projection: bool,
    source_is_legendre: bool,
    source_degree: int,
    source_family: int,
    source_continuous: bool,
    source_interval_major: bool,
    target_is_legendre: bool,
    target_degree: int,
    target_family: int,
    target_continuous: bool,
    target_interval_major: bool,
    source_points: npt.NDArray[np.float64],
    target_points: npt.NDArray[np.float64],
    /,
) -> _CsrParts: ...
def expansion_columns(
    degree: int,
    n_t: int,
    T: float,
    coefficients: npt.NDArray[np.float64],
    columns: int,
    times: npt.NDArray[np.float64],
    derivative: bool,
    /,
) -> memoryview: ...
def space_basis_matrix(
    kind: int,
    degree: int,
    n_t: int,
    T: float,
    points: npt.NDArray[np.float64],
    nodes: npt.NDArray[np.float64],
    weights: npt.NDArray[np.float64],
    differentiation: npt.NDArray[np.float64],
    stride: int,
    times: npt.NDArray[np.float64],
    left: bool,
    derivative: bool,
    /,
) -> _CsrParts: ...
def space_expansion_values(
    kind: int,
    degree: int,
    n_t: int,
    T: float,
    points: npt.NDArray[np.float64],
    nodes: npt.NDArray[np.float64],
    weights: npt.NDArray[np.float64],
    differentiation: npt.NDArray[np.float64],
    stride: int,
    k_begin: int,
    k_end: int,
    coefficients: npt.NDArray[np.float64],
    columns: int,
    times: npt.NDArray[np.float64],
    left: bool,
    derivative: bool,
    /,
) -> memoryview: ...
def vector_levels() -> tuple[str, list[str]]: ...
