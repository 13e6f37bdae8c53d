"""Radau-right collocation of a stiff linear system, and spectral deferred corrections that reach it.

u' = A u, u(0) = u0, where A = nu d^2/dx^2 by second-order finite differences
on N_X interior points of (0, 1) with zero boundary values: the semi-discrete
heat equation. Its eigenvalues run from about -nu pi^2 to -4 nu (N_X + 1)^2,
so on the coarsest grid here the fastest modes have |lambda| h up to about 10
and an explicit method would need far smaller steps. The time grid is graded
towards t = 0, t_k = T (k / n_t)^2 (a ``TimeGrid``), where the fast modes decay.

On a step [t_k, t_k + h] collocation at the M Radau-right nodes tau_m of
``collocation_matrices(M, "radau-right")`` solves, for the node values U,

    U_m = u_k + h sum_j Q[m, j] A U_j,        u_{k+1} = U_M,

since the last node is tau_M = 1. Its error at the grid points falls with
order 2M - 1; the example measures it against the exact solution of the
semi-discrete system (from the eigen-decomposition of A) for M = 1, 2, 3.
On a much stiffer system (nu = 1) the error at t = T soon shows that order, but
the largest error over the grid points, near t = 0, falls more slowly until
the first steps resolve the fast modes' decay: hence nu = 0.01 for the tables.

Spectral deferred corrections reach the same U without solving the coupled
system of M N_X unknowns: with a lower-triangular Q_delta (``q_delta``) a
sweep solves node by node

    (I - h Q_delta[m, m] A) U_m^(s+1) = u_k + h sum_{j<m} Q_delta[m, j] A U_j^(s+1)
                                           + h sum_j (Q - Q_delta)[m, j] A U_j^(s),

from U^(0) = u_k at every node; its fixed point is the collocation solution.
The "lu" Q_delta (Q^T = L U, Q_delta = U^T) makes the sweeps converge fast
for the stiff modes too; "implicit-euler" is shown beside it. The example
prints how the difference to the directly solved collocation system and the
collocation residual fall with the sweep count, for this system and for one
a hundred times stiffer (nu = 1, |lambda| h up to about 500).

It exits with status 1 if an observed order misses 2M - 1 by more than
ORDER_TOLERANCE, or if the sweeps do not reach SWEEP_TOLERANCE within
MAX_SWEEPS.

    python examples/collocation_sdc.py           # n_t = 8 ... 64
    python examples/collocation_sdc.py --quick   # n_t = 8 ... 32, for the test run
"""

from __future__ import annotations

import argparse
import math
import sys
import time
from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt
import scipy.sparse
import scipy.sparse.linalg

import zelk_arrays as za

Vector = npt.NDArray[np.float64]
Array = npt.NDArray[np.float64]

T_END = 1.0
N_X = 32
DIFFUSION = 0.01
GRADING = 2.0
RULE = "radau-right"
NODE_COUNTS = (1, 2, 3)
FULL_GRIDS = (8, 16, 32, 64)
QUICK_GRIDS = (8, 16, 32)
ORDER_TOLERANCE = 0.2
# The sweep study: nodes, sub-intervals, and the Q_delta compared.
SWEEP_NODES = 3
SWEEP_N_T = 16
SWEEP_KINDS = ("lu", "implicit-euler")
# The sweeps run on the system above and on one a hundred times stiffer, |lambda| h up to about 500.
SWEEP_DIFFUSIONS = (DIFFUSION, 100.0 * DIFFUSION)
# Converged: the largest difference to the collocation solution at the grid points and nodes, relative to the
# solution's largest value, is below this.
SWEEP_TOLERANCE = 1e-12
MAX_SWEEPS = 30


@dataclass(frozen=True)
class HeatSystem:
    """u' = A u, u(0) = u0, with A = nu d^2/dx^2 by finite differences, and its exact solution."""

    matrix: scipy.sparse.csc_array
    u0: Vector
    eigenvalues: Vector
    eigenvectors: Array
    dx: float

    def exact(self, times: Vector) -> Array:
        """The solution at ``times``, one row per time: each eigenmode decays as exp(lambda t)."""
        modes = np.exp(np.outer(times, self.eigenvalues)) * (self.eigenvectors.T @ self.u0)
        result: Array = modes @ self.eigenvectors.T
        return result

    def norm(self, values: Array) -> Vector:
        """The discrete L2(0, 1) norm of each row."""
        result: Vector = np.sqrt(self.dx * np.sum(values * values, axis=-1))
        return result


def heat_system(diffusion: float = DIFFUSION, n_x: int = N_X) -> HeatSystem:
    dx = 1.0 / (n_x + 1)
    x = dx * np.arange(1, n_x + 1)
    matrix = scipy.sparse.csc_array(
        scipy.sparse.diags_array([1.0, -2.0, 1.0], offsets=[-1, 0, 1], shape=(n_x, n_x)) * (diffusion / (dx * dx))
    )
    eigenvalues, eigenvectors = np.linalg.eigh(matrix.toarray())
    # Smooth, zero with its second derivative at both ends: every mode is present, the fast ones weakly.
    u0 = 64.0 * (x * (1.0 - x)) ** 3
    return HeatSystem(matrix, u0, eigenvalues, eigenvectors, dx)


def graded_grid(n_t: int) -> za.TimeGrid:
    """t_k = T (k / n_t)^GRADING: short steps near t = 0, where the fast modes decay."""
    return za.TimeGrid(T_END * (np.arange(n_t + 1) / n_t) ** GRADING)


def collocation_step(system: HeatSystem, q: Array, h: float, start: Vector) -> Array:
    """The node values U, shape (M, N_X), of one step: (I - h Q kron A) U = 1 kron start, solved at once."""
    n_nodes, n_x = q.shape[0], start.size
    coupled = scipy.sparse.identity(n_nodes * n_x, format="csc") - h * scipy.sparse.kron(q, system.matrix)
    nodes: Array = scipy.sparse.linalg.spsolve(scipy.sparse.csc_array(coupled), np.tile(start, n_nodes))
    return nodes.reshape(n_nodes, n_x)


def collocation_solve(system: HeatSystem, grid: za.TimeGrid, n_nodes: int) -> Array:
    """The collocation solution at the grid points, one row per point."""
    q = za.collocation_matrices(n_nodes, RULE).Q
    values = [system.u0]
    for h in grid.steps:
        # Radau-right: the last node is the step's end.
        values.append(collocation_step(system, q, float(h), values[-1])[-1])
    return np.array(values)


class Sweeper:
    """SDC sweeps with one Q_delta on one grid; the node solvers I - h Q_delta[m, m] A are factorised once."""

    def __init__(self, system: HeatSystem, grid: za.TimeGrid, n_nodes: int, kind: str) -> None:
        self.system = system
        self.steps = [float(h) for h in grid.steps]
        self.q = za.collocation_matrices(n_nodes, RULE).Q
        self.q_delta = za.q_delta(n_nodes, RULE, kind)
        identity = scipy.sparse.identity(system.u0.size, format="csc")
        diagonal = [float(d) for d in np.diag(self.q_delta)]
        # One factorisation per step and node, shared by every sweep.
        self.solvers = [
            [scipy.sparse.linalg.splu(scipy.sparse.csc_array(identity - (h * d) * system.matrix)) for d in diagonal]
            for h in self.steps
        ]

    def sweep(self, step: int, start: Vector, nodes: Array) -> Array:
        """One sweep on sub-interval ``step`` from the iterate ``nodes`` (M, N_X)."""
        h, a = self.steps[step], self.system.matrix
        explicit = start + h * ((self.q - self.q_delta) @ (a @ nodes.T).T)
        new = np.empty_like(nodes)
        for m, solver in enumerate(self.solvers[step]):
            rhs = explicit[m] + h * (self.q_delta[m, :m] @ (a @ new[:m].T).T)
            new[m] = solver.solve(rhs)
        return new

    def residual(self, step: int, start: Vector, nodes: Array) -> float:
        """The largest norm over the nodes of the collocation residual start + h Q A U - U."""
        defect = start + self.steps[step] * (self.q @ (self.system.matrix @ nodes.T).T) - nodes
        return float(np.max(self.system.norm(defect)))

    def solve(self, sweeps: int) -> tuple[Array, float]:
        """``sweeps`` sweeps per step from the start value at every node: the values at the grid points and
        the largest residual of any step."""
        values = [self.system.u0]
        residual = 0.0
        for step in range(len(self.steps)):
            start = values[-1]
            nodes = np.tile(start, (self.q.shape[0], 1))
            for _ in range(sweeps):
                nodes = self.sweep(step, start, nodes)
            residual = max(residual, self.residual(step, start, nodes))
            values.append(nodes[-1])
        return np.array(values), residual


@dataclass(frozen=True)
class SweepRow:
    sweeps: int
    # Per Q_delta kind: the largest difference to the collocation solution at the grid points (relative to the
    # largest solution value) and the largest collocation residual.
    differences: tuple[float, ...]
    residuals: tuple[float, ...]


def sweep_study(system: HeatSystem, n_t: int = SWEEP_N_T, n_nodes: int = SWEEP_NODES) -> list[SweepRow]:
    """Rows for 1, 2, ... sweeps per step until every kind's difference is below SWEEP_TOLERANCE (or MAX_SWEEPS)."""
    grid = graded_grid(n_t)
    reference = collocation_solve(system, grid, n_nodes)
    scale = float(np.max(system.norm(reference)))
    sweepers = [Sweeper(system, grid, n_nodes, kind) for kind in SWEEP_KINDS]
    rows: list[SweepRow] = []
    for sweeps in range(1, MAX_SWEEPS + 1):
        runs = [sweeper.solve(sweeps) for sweeper in sweepers]
        differences = tuple(float(np.max(system.norm(values - reference))) / scale for values, _ in runs)
        rows.append(SweepRow(sweeps, differences, tuple(residual for _, residual in runs)))
        if all(d <= SWEEP_TOLERANCE for d in differences):
            break
    return rows


def sweeps_needed(rows: Sequence[SweepRow], kind: int) -> int | None:
    """The fewest sweeps whose difference is below SWEEP_TOLERANCE for one kind, None if none is."""
    return next((row.sweeps for row in rows if row.differences[kind] <= SWEEP_TOLERANCE), None)


def sweep_failures(rows: Sequence[SweepRow]) -> list[str]:
    """What is wrong with the sweep study: a kind that never reached SWEEP_TOLERANCE."""
    if not rows:
        return ["the sweep study has no rows"]
    return [
        f"SDC with the {kind!r} Q_delta: difference {rows[-1].differences[index]:.2e} after {rows[-1].sweeps} "
        f"sweeps, not below {SWEEP_TOLERANCE:.0e}"
        for index, kind in enumerate(SWEEP_KINDS)
        if sweeps_needed(rows, index) is None
    ]


@dataclass(frozen=True)
class Row:
    n_t: int
    # The largest error over the grid points, and the error at t = T.
    max_error: float
    end_error: float


def measure(system: HeatSystem, n_nodes: int, n_t: int) -> Row:
    grid = graded_grid(n_t)
    errors = system.norm(collocation_solve(system, grid, n_nodes) - system.exact(grid.points))
    return Row(n_t, float(np.max(errors)), float(errors[-1]))


def observed_orders(n_ts: Sequence[int], errors: Sequence[float]) -> list[float]:
    """Order between consecutive rows: log(e_coarse / e_fine) / log(n_fine / n_coarse)."""
    return [math.log(e0 / e1) / math.log(n1 / n0) for n0, n1, e0, e1 in zip(n_ts, n_ts[1:], errors, errors[1:])]


def order_failures(n_nodes: int, rows: Sequence[Row]) -> list[str]:
    """What is wrong with the orders of M nodes; empty when every one is within ORDER_TOLERANCE of 2M - 1."""
    expected = 2 * n_nodes - 1
    n_ts = [row.n_t for row in rows]
    failures = []
    for name, errors in (("max", [row.max_error for row in rows]), ("end", [row.end_error for row in rows])):
        if len(errors) < 2 or not all(math.isfinite(e) and e > 0.0 for e in errors):
            failures.append(f"M = {n_nodes}: {name} errors {errors} give no order")
            continue
        for n_t, order in zip(n_ts[1:], observed_orders(n_ts, errors)):
            if abs(order - expected) > ORDER_TOLERANCE:
                failures.append(f"M = {n_nodes}: {name} order {order:.2f} at n_t = {n_t}, expected {expected}")
    return failures


def format_orders(rows: Sequence[Row]) -> list[str]:
    n_ts = [row.n_t for row in rows]
    columns = [[row.max_error for row in rows], [row.end_error for row in rows]]
    orders = [[math.nan] + observed_orders(n_ts, errors) for errors in columns]
    lines = ["   n_t   max over t_k  order    at t = T  order"]
    for i, n_t in enumerate(n_ts):
        cells = "".join(
            f"  {errors[i]:11.3e}  {'-' if i == 0 else f'{order[i]:.2f}':>5}" for errors, order in zip(columns, orders)
        )
        lines.append(f"  {n_t:4d} {cells}")
    return lines


def format_sweeps(rows: Sequence[SweepRow]) -> list[str]:
    header = "  sweeps" + "".join(f"  {kind + ': difference':>26}  {'residual':>9}" for kind in SWEEP_KINDS)
    lines = [header]
    for row in rows:
        cells = "".join(f"  {d:26.2e}  {r:9.2e}" for d, r in zip(row.differences, row.residuals))
        lines.append(f"  {row.sweeps:6d}{cells}")
    return lines


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--quick", action="store_true", help="n_t up to 32 instead of 64")
    args = parser.parse_args(argv)
    grids = QUICK_GRIDS if args.quick else FULL_GRIDS
    system = heat_system()
    failures: list[str] = []

    print(
        f"u' = A u: heat equation, nu = {DIFFUSION}, {N_X} points in space, eigenvalues "
        f"{system.eigenvalues[-1]:.3g} to {system.eigenvalues[0]:.4g}, T = {T_END}"
    )
    print(
        f"{RULE} collocation on t_k = T (k / n_t)^{GRADING:g}; errors against the exact solution (discrete L2 in space)"
    )
    for n_nodes in NODE_COUNTS:
        start = time.perf_counter()
        rows = [measure(system, n_nodes, n_t) for n_t in grids]
        failures += order_failures(n_nodes, rows)
        elapsed_ms = (time.perf_counter() - start) * 1e3
        print(f"\nM = {n_nodes}: expected order {2 * n_nodes - 1}, {elapsed_ms:.0f} ms")
        print("\n".join(format_orders(rows)), flush=True)

    print(
        f"\nSDC, M = {SWEEP_NODES}, n_t = {SWEEP_N_T}, sweeps per step from the start value: difference to the "
        "directly solved collocation system (largest at the grid points, relative) and its largest residual"
    )
    for diffusion in SWEEP_DIFFUSIONS:
        start = time.perf_counter()
        stiff = heat_system(diffusion)
        sweep_rows = sweep_study(stiff)
        failures += sweep_failures(sweep_rows)
        elapsed_ms = (time.perf_counter() - start) * 1e3
        largest = -stiff.eigenvalues[0] * float(np.max(graded_grid(SWEEP_N_T).steps))
        print(f"\nnu = {diffusion:g}, |lambda| h up to {largest:.0f}, {elapsed_ms:.0f} ms")
        print("\n".join(format_sweeps(sweep_rows)))
        for index, kind in enumerate(SWEEP_KINDS):
            needed = sweeps_needed(sweep_rows, index)
            print(f"  {kind}: " + (f"below {SWEEP_TOLERANCE:.0e} after {needed} sweeps" if needed else "not converged"))

    if failures:
        print("\nCHECK FAILED:\n  " + "\n  ".join(failures), file=sys.stderr)
        return 1
    print("\ncheck: every order within the tolerance of 2M - 1, the sweeps converged to the collocation solution")
    return 0


if __name__ == "__main__":
    sys.exit(main())
