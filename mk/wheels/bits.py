"""Hashes of a fixed set of evaluations and matrices: one line per front, equal on every wheel and machine.

python bits.py        prints "zelk <sha256>" and "zelk_arrays <sha256>" (the latter only where numpy is)
"""

import hashlib
import importlib.util
import struct

# Degrees, interval counts and lengths that reach the recurrences' high orders and awkward T.
GRIDS = [(1, 1, 1.0), (2, 3, 0.7), (5, 4, 3.25), (9, 7, 1e-3), (16, 5, 123.456)]


def times(n_t: int, T: float) -> list[float]:
    """Interior and end points, plus points on and next to the sub-interval boundaries."""
    ts = [T * i / 37 for i in range(38)]
    for k in range(n_t + 1):
        edge = T * k / n_t
        ts += [edge, edge * (1 + 2**-52), edge * (1 - 2**-52)]
    return [t for t in ts if 0.0 <= t <= T]


def doubles(digest, values) -> None:
    for v in values:
        digest.update(struct.pack("<d", float(v)))


def zelk_hash() -> str:
    import zelk

    digest = hashlib.sha256()
    for degree, n_t, T in GRIDS:
        doubles(digest, zelk.get_lagrange_points(degree, n_t, T))
        basis = zelk.LegendreBasis(degree, n_t, T)
        evaluator = zelk.LegendreBasisEvaluator(degree, n_t, T)
        dofs = [((i * 7919) % 101 - 50) / 13 for i in range(n_t * (degree + 1))]
        evaluator.set_dofs(dofs)
        for t in times(n_t, T):
            doubles(digest, basis.evaluate_all_basis_functions(t))
            doubles(digest, basis.evaluate_all_basis_function_derivatives(t))
            doubles(digest, [basis.evaluate_at(t, dofs), evaluator.evaluate_at(t), evaluator.evaluate_derivative_at(t)])
        rows, cols, values = zelk.lagrange_to_legendre_basis_transformation(degree, n_t)
        digest.update(repr((rows, cols)).encode())
        doubles(digest, values)
        rows, cols, values = zelk.lagrange_prolongation_matrix(n_t, 2 * n_t + 1, degree)
        digest.update(repr((rows, cols)).encode())
        doubles(digest, values)
    return digest.hexdigest()


def zelk_arrays_hash() -> str:
    import numpy as np

    import zelk_arrays

    digest = hashlib.sha256()

    def matrix(m) -> None:
        digest.update(np.ascontiguousarray(m.indptr, dtype="<i8").tobytes())
        digest.update(np.ascontiguousarray(m.indices, dtype="<i8").tobytes())
        digest.update(np.ascontiguousarray(m.data, dtype="<f8").tobytes())

    for degree, n_t, T in GRIDS:
        ts = np.array(times(n_t, T))
        doubles(digest, zelk_arrays.get_lagrange_points(degree, n_t, T))
        matrix(zelk_arrays.legendre_basis_matrix(degree, n_t, T, ts))
        matrix(zelk_arrays.legendre_basis_matrix(degree, n_t, T, ts, derivative=True))
        matrix(zelk_arrays.lagrange_to_legendre_basis_transformation(degree, n_t))
        matrix(zelk_arrays.lagrange_prolongation_matrix(n_t, 2 * n_t + 1, degree))
        expansion = zelk_arrays.LegendreExpansion(degree, n_t, T, np.arange(n_t * (degree + 1)) % 11 - 5.0)
        doubles(digest, expansion(ts))
        doubles(digest, expansion.derivative(ts))
    return digest.hexdigest()


if __name__ == "__main__":
    print("zelk", zelk_hash())
    if importlib.util.find_spec("numpy") and importlib.util.find_spec("scipy"):
        print("zelk_arrays", zelk_arrays_hash())
