# Type information for the zelk extension module, shipped beside it as a stub-only package.
from collections.abc import Sequence
from typing import final

__all__ = [
    "sum_as_string",
    "lagrange_to_legendre_basis_transformation",
    "lagrange_prolongation_matrix",
    "get_lagrange_points",
    "LegendreBasis",
    "LegendreBasisEvaluator",
]

def sum_as_string(a: int, b: int) -> str:
    """Formats the sum of two numbers as string."""

def lagrange_to_legendre_basis_transformation(
    degree: int, n_t: int
) -> tuple[list[int], list[int], list[float]]: ...
def lagrange_prolongation_matrix(
    nt_coarse: int, nt_fine: int, degree: int
) -> tuple[list[int], list[int], list[float]]: ...
def get_lagrange_points(degree: int, n_t: int, T: float) -> list[float]: ...
@final
class LegendreBasis:
    def __new__(cls, degree: int, n_t: int, T: float) -> LegendreBasis: ...
    def evaluate_at(self, t: float, legendre_vals: Sequence[float]) -> float: ...
    def evaluate_all_basis_functions(self, t: float) -> list[float]: ...
    def evaluate_all_basis_function_derivatives(self, t: float) -> list[float]: ...

@final
class LegendreBasisEvaluator:
    """Class to evaluate legendre basis more often without copying the dofs from python each time"""

    def __new__(cls, degree: int, n_t: int, T: float) -> LegendreBasisEvaluator: ...
    def set_dofs(self, legendre_vals: Sequence[float]) -> None: ...
    def evaluate_at(self, t: float) -> float: ...
    def evaluate_derivative_at(self, t: float) -> float: ...
