"""Discontinuous Galerkin in time, slab by slab, and a parareal iteration over time windows.

u' = A u + g(t) on [T_START, T_END] with u(T_START) = u_exact(T_START), for a
2 x 2 system A and a g chosen so that u_exact solves it. dG(q) seeks on each
sub-interval I_k = [t_k, t_{k+1}] a polynomial U_k of degree q (Legendre
coefficients, interval-major) with, for every test function v_a of I_k,

    integral over I_k of (U_k' - A U_k) v_a + v_a(t_k+) (U_k(t_k+) - U_{k-1}(t_k-))
        = integral over I_k of g v_a,

one small system per slab: kron(D + J, I) - kron(M, A) from ``slab_blocks``,
the right-hand side from ``load_vector`` and the upwind value through
``jump_previous`` (the initial value through v_a(t_0+)). The end values
U_k(t_{k+1}-), where dG(q) converges with order 2q + 1, come from the blocks
too: ``-jump_previous[0]`` of the reference blocks holds u_b(1-), since
v_0 = P_0 = 1. The slabs' solution equals the all-at-once solve of the
global matrices to round-off, which the example checks.

The grid is graded, t_k = T_START + (T_END - T_START) (k / n_t)^GRADING, and
starts at T_START != 0. Parareal splits it into windows: a coarse propagator
(dG(1), one slab per window) predicts, the fine one (dG(q) on the window's
slabs, which every window can run at once) corrects; after as many
iterations as windows it is the serial fine solution exactly, and much
sooner to round-off here.

It exits with status 1 if an observed order misses 2q + 1 by more than
ORDER_TOLERANCE, the slabs and the all-at-once solve differ by more than
SAME_TOLERANCE, or parareal does not reach PARAREAL_TOLERANCE.

    python examples/time_stepping.py           # more and finer grids
    python examples/time_stepping.py --quick   # for the test run
"""

from __future__ import annotations

import argparse
import math
import sys
from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt
import scipy.sparse
import scipy.sparse.linalg

import zelk_arrays as za

Array = npt.NDArray[np.float64]

T_START, T_END = 1.0, 3.0
GRADING = 1.5
A = np.array([[-2.0, 1.0], [-1.0, -3.0]])
DEGREES = (0, 1, 2, 3)
QUICK_GRIDS = {0: (32, 64, 128), 1: (8, 16, 32), 2: (8, 16, 32), 3: (4, 8, 16)}
FULL_GRIDS = {0: (32, 64, 128, 256), 1: (8, 16, 32, 64), 2: (8, 16, 32, 64), 3: (4, 8, 16, 32)}
ORDER_TOLERANCE = 0.35
SAME_TOLERANCE = 1e-13
PARAREAL_WINDOWS = 8
PARAREAL_SLABS = 4  # fine slabs per window
PARAREAL_DEGREE = 2
PARAREAL_COARSE_DEGREE = 1
PARAREAL_TOLERANCE = 1e-13


def exact(t: Array) -> Array:
    """u_exact at the times t, shape t.shape + (2,)."""
    return np.stack([np.sin(3.0 * t) + 1.0, np.exp(-t) * np.cos(t)], axis=-1)


def exact_derivative(t: Array) -> Array:
    return np.stack([3.0 * np.cos(3.0 * t), -np.exp(-t) * (np.cos(t) + np.sin(t))], axis=-1)


def source(t: Array) -> Array:
    """g = u_exact' - A u_exact, so that u_exact solves the system."""
    g: Array = exact_derivative(t) - exact(t) @ A.T
    return g


def graded_grid(n_t: int) -> za.TimeGrid:
    fractions = (np.arange(n_t + 1) / n_t) ** GRADING
    points = T_START + (T_END - T_START) * fractions
    points[-1] = T_END
    return za.TimeGrid(points)


@dataclass(frozen=True)
class Slab:
    """What one slab's solve needs: its system matrix, initial-value column and load."""

    matrix: Array
    blocks: za.SlabBlocks
    load: Array


def slab(space: za.LegendreSpace, k: int) -> Slab:
    blocks = za.slab_blocks(space, space, k)
    n = A.shape[0]
    matrix = np.asarray(np.kron(blocks.derivative + blocks.jump, np.eye(n)) - np.kron(blocks.mass, A), dtype=np.float64)
    return Slab(matrix, blocks, za.load_vector(space, source, intervals=(k, k + 1)))


def initial_trace(space: za.LegendreSpace) -> Array:
    """v_a(t_k+) of a slab's test functions: the jump block's first column, since u_0 = P_0 = 1."""
    trace: Array = za.reference_blocks(space, space).jump[:, 0]
    return trace


def end_trace(space: za.LegendreSpace) -> Array:
    """u_b(t_{k+1}-) of a slab's trial functions, from the upwind block: v_0 = 1."""
    trace: Array = -za.reference_blocks(space, space).jump_previous[0]
    return trace


def step(space: za.LegendreSpace, k: int, start: Array) -> Array:
    """Slab k's coefficients (degree + 1, 2) from the value u(t_k-) = start."""
    s = slab(space, k)
    rhs = s.load + np.outer(initial_trace(space), start)
    return np.asarray(np.linalg.solve(s.matrix, rhs.reshape(-1)), dtype=np.float64).reshape(s.load.shape)


def march(space: za.LegendreSpace) -> Array:
    """All slabs one after the other, the upwind value through jump_previous: (n_t, degree + 1, 2)."""
    coefficients = np.empty((space.n_t, space.degree + 1, A.shape[0]))
    start = exact(np.array(T_START))
    for k in range(space.n_t):
        s = slab(space, k)
        if k == 0:
            rhs = s.load + np.outer(initial_trace(space), start)
        else:
            rhs = s.load - s.blocks.jump_previous @ coefficients[k - 1]
        coefficients[k] = np.linalg.solve(s.matrix, rhs.reshape(-1)).reshape(s.load.shape)
    return coefficients


def all_at_once(space: za.LegendreSpace) -> Array:
    """The global system of the same discretisation, solved at once: (n_t, degree + 1, 2)."""
    n = A.shape[0]
    operator = za.time_derivative_matrix(space, space) + za.time_jump_matrix(space, space)
    matrix = scipy.sparse.kron(operator, np.eye(n)) - scipy.sparse.kron(za.time_mass_matrix(space, space), A)
    rhs = za.load_vector(space, source)
    rhs[: space.degree + 1] += np.outer(initial_trace(space), exact(np.array(T_START)))
    solution = scipy.sparse.linalg.spsolve(scipy.sparse.csc_array(matrix), rhs.reshape(-1))
    return np.asarray(solution).reshape(space.n_t, space.degree + 1, n)


@dataclass(frozen=True)
class Row:
    n_t: int
    end_error: float  # largest |U(t_k-) - u(t_k)| over the grid points
    difference: float  # largest difference between the slabs and the all-at-once solve


def measure(degree: int, n_t: int) -> Row:
    space = za.LegendreSpace(degree, graded_grid(n_t), layout="interval-major")
    marched = march(space)
    ends = marched.transpose(0, 2, 1) @ end_trace(space)
    error = float(np.max(np.abs(ends - exact(space.grid.points[1:]))))
    difference = float(np.max(np.abs(marched - all_at_once(space))))
    return Row(n_t, error, difference)


def observed_orders(rows: Sequence[Row]) -> list[float]:
    return [math.log(a.end_error / b.end_error) / math.log(b.n_t / a.n_t) for a, b in zip(rows, rows[1:], strict=False)]


def order_failures(degree: int, rows: Sequence[Row]) -> list[str]:
    failures = [
        f"dG({degree}): order {order:.2f} at n_t = {row.n_t}, expected {2 * degree + 1}"
        for order, row in zip(observed_orders(rows), rows[1:], strict=True)
        if abs(order - (2 * degree + 1)) > ORDER_TOLERANCE
    ]
    failures += [
        f"dG({degree}): slabs and all-at-once differ by {row.difference:.2e} at n_t = {row.n_t}"
        for row in rows
        if not row.difference <= SAME_TOLERANCE
    ]
    return failures


def parareal(windows: int, slabs_per_window: int, degree: int) -> tuple[list[float], Array]:
    """Parareal's largest difference to the serial fine solution at the window ends, per iteration."""
    fine_grid = graded_grid(windows * slabs_per_window)
    fine = za.LegendreSpace(degree, fine_grid, layout="interval-major")
    coarse_grid = za.TimeGrid(fine_grid.points[::slabs_per_window])
    coarse = za.LegendreSpace(PARAREAL_COARSE_DEGREE, coarse_grid, layout="interval-major")
    fine_end = end_trace(fine)
    coarse_end = end_trace(coarse)

    def propagate_fine(w: int, start: Array) -> Array:
        for k in range(w * slabs_per_window, (w + 1) * slabs_per_window):
            start = fine_end @ step(fine, k, start)
        return start

    def propagate_coarse(w: int, start: Array) -> Array:
        return coarse_end @ step(coarse, w, start)

    u0 = exact(np.array(T_START))
    serial = [u0]
    for w in range(windows):
        serial.append(propagate_fine(w, serial[-1]))
    reference = np.array(serial)
    # Iteration 0: the coarse prediction alone.
    values = [u0]
    for w in range(windows):
        values.append(propagate_coarse(w, values[-1]))
    differences = [float(np.max(np.abs(np.array(values) - reference)))]
    for _ in range(windows):
        # The fine and coarse runs from the old values: independent per window.
        corrections = [propagate_fine(w, values[w]) - propagate_coarse(w, values[w]) for w in range(windows)]
        new = [u0]
        for w in range(windows):
            new.append(propagate_coarse(w, new[-1]) + corrections[w])
        values = new
        differences.append(float(np.max(np.abs(np.array(values) - reference))))
        if differences[-1] <= PARAREAL_TOLERANCE * 1e-2:
            break
    return differences, reference


def parareal_failures(differences: Sequence[float]) -> list[str]:
    if min(differences) <= PARAREAL_TOLERANCE:
        return []
    return [f"parareal: closest {min(differences):.2e} to the serial fine solution"]


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--quick", action="store_true", help="fewer and coarser grids")
    args = parser.parse_args(argv)
    grids = QUICK_GRIDS if args.quick else FULL_GRIDS
    failures: list[str] = []
    print(f"u' = A u + g on [{T_START}, {T_END}], graded grid t_k = T_START + (T_END - T_START) (k / n_t)^{GRADING}")
    for degree in DEGREES:
        rows = [measure(degree, n_t) for n_t in grids[degree]]
        failures += order_failures(degree, rows)
        print(f"\ndG({degree}): expected order {2 * degree + 1} at the grid points")
        print(f"{'n_t':>5} {'end error':>11} {'order':>6} {'slabs - all-at-once':>20}")
        orders = [math.nan, *observed_orders(rows)]
        for row, order in zip(rows, orders, strict=True):
            print(f"{row.n_t:>5} {row.end_error:>11.3e} {order:>6.2f} {row.difference:>20.1e}")

    differences, _ = parareal(PARAREAL_WINDOWS, PARAREAL_SLABS, PARAREAL_DEGREE)
    failures += parareal_failures(differences)
    print(
        f"\nparareal: {PARAREAL_WINDOWS} windows of {PARAREAL_SLABS} dG({PARAREAL_DEGREE}) slabs, "
        f"dG({PARAREAL_COARSE_DEGREE}) coarse; "
        "largest difference to the serial fine solution at the window ends"
    )
    for iteration, difference in enumerate(differences):
        print(f"  iteration {iteration}: {difference:.2e}")

    if failures:
        print("\nCHECK FAILED:\n  " + "\n  ".join(failures), file=sys.stderr)
        return 1
    print(
        "\ncheck: every order within the tolerance of 2q + 1, slabs equal to the all-at-once solve, "
        "parareal converged to the serial fine solution"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
