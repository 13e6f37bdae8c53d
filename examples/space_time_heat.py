"""The heat equation as one space-time system: cGP and dG in time, multigrid in time.

u_t = nu u_xx + f on (0, 1) x (0, T], u = 0 on the boundary, with
second-order finite differences on N_X interior points in space. The
semi-discrete system u' + A u = b g(t), u(0) = u0, is solved at once for all
times: the time
operators of zelk_arrays are combined with the spatial ones by
``scipy.sparse.kron(time_op, space_op)``, space-time unknowns time-major.

- cGP(p): trial LagrangeSpace(p), test LegendreSpace(p - 1); the initial node
  is known. Errors at the sub-interval ends converge at order 2p, in
  L2(0, T) at p + 1.
- dG(q): LegendreSpace(q) for trial and test, with the jump term; the initial
  value enters the right-hand side. Order 2q + 1 at the ends (left limits),
  q + 1 in L2(0, T).

Errors are measured against the exact solution of the semi-discrete system
(from the eigen-decomposition of A), so the spatial error does not hide the
time error. The diffusion nu and the spatial grid keep the largest eigenvalue
of A near 10, so that the tables reach the asymptotic range on a few grids
(stiff modes with lambda h >> 1 reduce the end orders of high degrees).
A V-cycle in time then solves both systems: damped block Jacobi
over sub-intervals, coarse levels re-discretised on n_t / 2, corrections
prolonged with the trial space's transfer and residuals restricted with the
transposed modal prolongation of the test space (the residual is a dual
quantity of the test space). Its convergence factor stays the same from
n_t = 16 to 1024.

The example prints the tables, writes a figure and exits with status 1 if an
order misses its theory by more than ORDER_TOLERANCE, or if a multigrid
factor exceeds FACTOR_LIMIT or grows with n_t.

    python examples/space_time_heat.py           # figure in examples/output/
    python examples/space_time_heat.py --quick   # fewer grids, for the test run
"""

from __future__ import annotations

import argparse
import io
import math
import sys
import time
from collections.abc import Sequence
from dataclasses import dataclass
from pathlib import Path

import numpy as np
import numpy.typing as npt
import scipy.sparse
import scipy.sparse.linalg

import zelk_arrays as za

Vector = npt.NDArray[np.float64]
Matrix = scipy.sparse.csr_array

T_END = 1.0
N_X = 15
DIFFUSION = 0.01
# Angular frequency of the source's time profile g(t) = cos(OMEGA t).
OMEGA = 2.0 * np.pi
# Gauss points per sub-interval for the load and the L2(0, T) errors.
QUADRATURE_POINTS = 8
# The finest n_t of a table, by the method's end order: its end error stays well above
# rounding (about 1e-13 here). Tables halve from there, down to COARSEST_TABLE_N_T.
FINEST_TABLE_N_T = {1: 64, 2: 64, 3: 64, 4: 32, 5: 32, 6: 16}
COARSEST_TABLE_N_T = 4
MULTIGRID_FULL = (16, 64, 256, 1024)
MULTIGRID_QUICK = (16, 64, 256)
ORDER_TOLERANCE = 0.15
FACTOR_LIMIT = 0.5
# A factor counts as grown when the finest grid's exceeds the coarsest's by more than this.
FACTOR_GROWTH = 0.05
# Multigrid: smoothing steps before and after the coarse correction, block Jacobi damping,
# the sub-intervals of the coarsest level (solved directly) and the stopping rule.
SMOOTHING_STEPS = 1
DAMPING = 0.5
COARSEST_N_T = 2
RESIDUAL_REDUCTION = 1e-10
MAX_CYCLES = 40


@dataclass(frozen=True)
class Method:
    """cGP(degree) if continuous, else dG(degree)."""

    continuous: bool
    degree: int

    @property
    def name(self) -> str:
        return f"{'cGP' if self.continuous else 'dG'}({self.degree})"

    @property
    def end_order(self) -> int:
        return 2 * self.degree if self.continuous else 2 * self.degree + 1

    @property
    def global_order(self) -> int:
        return self.degree + 1

    def spaces(self, n_t: int) -> tuple[za.LagrangeSpace | za.LegendreSpace, za.LegendreSpace]:
        """(trial, test) on n_t sub-intervals of [0, T_END]."""
        if self.continuous:
            return za.LagrangeSpace(self.degree, n_t, T_END), za.LegendreSpace(self.degree - 1, n_t, T_END)
        space = za.LegendreSpace(self.degree, n_t, T_END)
        return space, space


METHODS = tuple(Method(True, p) for p in (1, 2, 3)) + tuple(Method(False, q) for q in (0, 1, 2))
MULTIGRID_METHODS = (Method(True, 2), Method(False, 1))


@dataclass(frozen=True)
class HeatProblem:
    """u' + A u = b cos(OMEGA t), u(0) = u0, with A = -nu d^2/dx^2 by finite differences."""

    laplacian: Matrix
    u0: Vector
    source: Vector
    eigenvalues: Vector
    eigenvectors: npt.NDArray[np.float64]
    dx: float

    def exact(self, times: Vector) -> npt.NDArray[np.float64]:
        """The semi-discrete solution at ``times``, one row per time.

        Each eigenmode solves y' + lambda y = beta cos(OMEGA t), y(0) = y0, in closed form.
        """
        lam = self.eigenvalues[None, :]
        t = np.asarray(times, dtype=np.float64)[:, None]
        y0 = self.eigenvectors.T @ self.u0
        beta = self.eigenvectors.T @ self.source
        decay = np.exp(-lam * t)
        forced = beta * (lam * np.cos(OMEGA * t) + OMEGA * np.sin(OMEGA * t) - lam * decay) / (lam**2 + OMEGA**2)
        modes: npt.NDArray[np.float64] = y0 * decay + forced
        return modes @ self.eigenvectors.T

    def norm(self, values: npt.NDArray[np.float64]) -> Vector:
        """The discrete L2(0, 1) norm of each row."""
        result: Vector = np.sqrt(self.dx * np.sum(values * values, axis=-1))
        return result


def heat_problem(n_x: int = N_X) -> HeatProblem:
    dx = 1.0 / (n_x + 1)
    x = dx * np.arange(1, n_x + 1)
    laplacian = scipy.sparse.csr_array(
        scipy.sparse.diags_array([-1.0, 2.0, -1.0], offsets=[-1, 0, 1], shape=(n_x, n_x)) * (DIFFUSION / (dx * dx))
    )
    eigenvalues, eigenvectors = np.linalg.eigh(laplacian.toarray())
    return HeatProblem(
        laplacian=laplacian,
        u0=np.sin(np.pi * x),
        source=x * (1.0 - x),
        eigenvalues=eigenvalues,
        eigenvectors=eigenvectors,
        dx=dx,
    )


def g(t: Vector) -> Vector:
    result: Vector = np.cos(OMEGA * t)
    return result


@dataclass(frozen=True)
class SpaceTimeSystem:
    """The space-time matrix and right-hand side of one method on n_t sub-intervals.

    ``rows`` and ``columns`` give the sub-interval of every space-time row and
    unknown, for the block smoother.
    """

    method: Method
    n_t: int
    matrix: Matrix
    rhs: Vector
    rows: npt.NDArray[np.int64]
    columns: npt.NDArray[np.int64]


def owners(local_dofs: npt.NDArray[np.int64], dim: int) -> npt.NDArray[np.int64]:
    """The sub-interval of each dof; a shared end node belongs to the sub-interval it ends."""
    owner = np.empty(dim, dtype=np.int64)
    # Backwards, so that the earlier of two sub-intervals sharing a node keeps it.
    for k in range(len(local_dofs) - 1, -1, -1):
        owner[local_dofs[k]] = k
    return owner


def assemble(method: Method, problem: HeatProblem, n_t: int) -> SpaceTimeSystem:
    trial, test = method.spaces(n_t)
    n_x = problem.u0.size
    identity = scipy.sparse.identity(n_x, format="csr")
    derivative = za.time_derivative_matrix(trial, test)
    if not method.continuous:
        derivative = derivative + za.time_jump_matrix(trial, test)
    mass = za.time_mass_matrix(trial, test)
    full = scipy.sparse.csr_array(scipy.sparse.kron(derivative, identity) + scipy.sparse.kron(mass, problem.laplacian))
    # Load: the integrals of g against every test function, by quadrature.
    times, weights = za.time_quadrature(QUADRATURE_POINTS, n_t, T_END)
    test_values = za.legendre_basis_matrix(test.degree, n_t, T_END, times)
    rhs = np.kron(test_values.T @ (weights * g(times)), problem.source)
    rows = np.repeat(owners(test.local_dofs(), test.dim), n_x)
    columns = np.repeat(owners(trial.local_dofs(), trial.dim), n_x)
    if method.continuous:
        # The initial node is known: its columns go to the right-hand side.
        rhs -= full[:, :n_x] @ problem.u0
        full = full[:, n_x:]
        columns = columns[n_x:]
    else:
        # The jump at t = 0 from u(0-) = u0: the test functions' values at 0 times u0.
        rhs += np.kron(za.legendre_basis_matrix(test.degree, n_t, T_END, [0.0]).toarray()[0], problem.u0)
    return SpaceTimeSystem(method, n_t, scipy.sparse.csr_array(full), rhs, rows, columns)


def modal_coefficients(system: SpaceTimeSystem, solution: Vector, problem: HeatProblem) -> npt.NDArray[np.float64]:
    """The solution's Legendre coefficients, one row per time coefficient, one column per space point."""
    values = solution.reshape(-1, problem.u0.size)
    if not system.method.continuous:
        return values
    nodal = np.vstack([problem.u0, values])
    result: npt.NDArray[np.float64] = (
        za.lagrange_to_legendre_basis_transformation(system.method.degree, system.n_t) @ nodal
    )
    return result


@dataclass(frozen=True)
class Row:
    n_t: int
    end_error: float
    global_error: float


def measure(method: Method, problem: HeatProblem, n_t: int) -> Row:
    system = assemble(method, problem, n_t)
    solution = scipy.sparse.linalg.spsolve(scipy.sparse.csc_array(system.matrix), system.rhs)
    coefficients = modal_coefficients(system, solution, problem)
    degree = method.degree
    h = T_END / n_t
    # P_i(1) = 1: the left limit at the end of sub-interval k is the sum of its coefficients.
    ends = coefficients.reshape(degree + 1, n_t, -1).sum(axis=0)
    end_times: Vector = h + h * np.arange(n_t, dtype=np.float64)
    times, weights = za.time_quadrature(QUADRATURE_POINTS, n_t, T_END)
    values = za.legendre_basis_matrix(degree, n_t, T_END, times) @ coefficients
    return Row(
        n_t=n_t,
        end_error=float(np.max(problem.norm(ends - problem.exact(end_times)))),
        global_error=math.sqrt(float(np.sum(weights * problem.norm(values - problem.exact(times)) ** 2))),
    )


def table_grids(method: Method, quick: bool) -> tuple[int, ...]:
    """The n_t of one method's table: four grids (three if quick) halving from its finest."""
    finest = FINEST_TABLE_N_T[method.end_order]
    halvings = range(2 if quick else 3, -1, -1)
    return tuple(finest >> i for i in halvings if finest >> i >= COARSEST_TABLE_N_T)


def observed_orders(n_ts: Sequence[int], errors: Sequence[float]) -> list[float]:
    """Order between consecutive rows: log(e_coarse / e_fine) / log(n_fine / n_coarse)."""
    return [math.log(e0 / e1) / math.log(n1 / n0) for n0, n1, e0, e1 in zip(n_ts, n_ts[1:], errors, errors[1:])]


def order_failures(method: Method, rows: Sequence[Row]) -> list[str]:
    """What is wrong with one method's orders; empty when every one is within ORDER_TOLERANCE."""
    n_ts = [row.n_t for row in rows]
    failures = []
    for name, errors, expected in (
        ("end", [row.end_error for row in rows], method.end_order),
        ("global", [row.global_error for row in rows], method.global_order),
    ):
        if len(errors) < 2 or not all(math.isfinite(e) and e > 0.0 for e in errors):
            failures.append(f"{method.name}: {name} errors {errors} give no order")
            continue
        for n_t, order in zip(n_ts[1:], observed_orders(n_ts, errors)):
            if abs(order - expected) > ORDER_TOLERANCE:
                failures.append(f"{method.name}: {name} order {order:.2f} at n_t = {n_t}, expected {expected}")
    return failures


@dataclass(frozen=True)
class Level:
    system: SpaceTimeSystem
    # The factorised sub-interval blocks (the smoother); on the coarsest level the whole matrix.
    factors: scipy.sparse.linalg.SuperLU
    # From the next coarser level to this one, and from this one to it; None on the coarsest.
    prolongation: Matrix | None
    restriction: Matrix | None


def transfers(method: Method, nt_coarse: int, nt_fine: int, n_x: int) -> tuple[Matrix, Matrix]:
    """(prolongation of corrections, restriction of residuals) between two grids, in space-time."""
    identity = scipy.sparse.identity(n_x, format="csr")
    if method.continuous:
        # Nodal corrections; the initial node is no unknown on either grid.
        prolong = za.lagrange_prolongation_matrix(nt_coarse, nt_fine, method.degree)[1:, 1:]
        # Residuals live in the test space LegendreSpace(p - 1).
        restrict = za.legendre_prolongation_matrix(nt_coarse, nt_fine, method.degree - 1).T
    else:
        prolong = za.legendre_prolongation_matrix(nt_coarse, nt_fine, method.degree)
        restrict = prolong.T
    return (
        scipy.sparse.csr_array(scipy.sparse.kron(prolong, identity)),
        scipy.sparse.csr_array(scipy.sparse.kron(restrict, identity)),
    )


def block_diagonal(system: SpaceTimeSystem) -> scipy.sparse.linalg.SuperLU:
    """The factorised blocks of each sub-interval's rows and unknowns."""
    coo = system.matrix.tocoo()
    keep = system.rows[coo.row] == system.columns[coo.col]
    blocks = scipy.sparse.csc_array((coo.data[keep], (coo.row[keep], coo.col[keep])), shape=coo.shape)
    return scipy.sparse.linalg.splu(blocks)


def hierarchy(method: Method, problem: HeatProblem, n_t: int) -> list[Level]:
    """Levels from n_t down to COARSEST_N_T (or an odd n_t), halving; each re-discretised."""
    levels = []
    n_x = problem.u0.size
    while True:
        system = assemble(method, problem, n_t)
        if n_t <= COARSEST_N_T or n_t % 2:
            levels.append(Level(system, scipy.sparse.linalg.splu(scipy.sparse.csc_array(system.matrix)), None, None))
            return levels
        prolongation, restriction = transfers(method, n_t // 2, n_t, n_x)
        levels.append(Level(system, block_diagonal(system), prolongation, restriction))
        n_t //= 2


def v_cycle(levels: Sequence[Level], rhs: Vector, guess: Vector) -> Vector:
    """One V-cycle on levels[0] from ``guess``; the coarsest level is solved directly."""
    level = levels[0]
    if level.prolongation is None or level.restriction is None:
        solved: Vector = level.factors.solve(rhs)
        return solved
    matrix = level.system.matrix
    x = guess.copy()
    for _ in range(SMOOTHING_STEPS):
        x += DAMPING * level.factors.solve(rhs - matrix @ x)
    coarse_rhs = level.restriction @ (rhs - matrix @ x)
    x += level.prolongation @ v_cycle(levels[1:], coarse_rhs, np.zeros_like(coarse_rhs))
    for _ in range(SMOOTHING_STEPS):
        x += DAMPING * level.factors.solve(rhs - matrix @ x)
    return x


@dataclass(frozen=True)
class MultigridRun:
    n_t: int
    residuals: list[float]

    @property
    def factor(self) -> float:
        """The mean reduction of the residual per cycle."""
        cycles = len(self.residuals) - 1
        return (self.residuals[-1] / self.residuals[0]) ** (1.0 / cycles) if cycles else math.nan


def multigrid(method: Method, problem: HeatProblem, n_t: int) -> MultigridRun:
    """V-cycles from zero until the residual fell by RESIDUAL_REDUCTION."""
    levels = hierarchy(method, problem, n_t)
    matrix, rhs = levels[0].system.matrix, levels[0].system.rhs
    x = np.zeros_like(rhs)
    residuals = [float(np.linalg.norm(rhs))]
    while residuals[-1] > RESIDUAL_REDUCTION * residuals[0] and len(residuals) <= MAX_CYCLES:
        x = v_cycle(levels, rhs, x)
        residuals.append(float(np.linalg.norm(rhs - matrix @ x)))
    return MultigridRun(n_t, residuals)


def factor_failures(method: Method, runs: Sequence[MultigridRun]) -> list[str]:
    """What is wrong with one method's multigrid factors; empty when they are bounded and do not grow."""
    factors = [run.factor for run in runs]
    failures = [
        f"{method.name}: multigrid factor {factor:.3f} at n_t = {run.n_t} (limit {FACTOR_LIMIT})"
        for run, factor in zip(runs, factors)
        if not factor <= FACTOR_LIMIT
    ]
    if factors and factors[-1] > factors[0] + FACTOR_GROWTH:
        failures.append(f"{method.name}: multigrid factor grows from {factors[0]:.3f} to {factors[-1]:.3f}")
    return failures


def format_table(rows: Sequence[Row]) -> list[str]:
    n_ts = [row.n_t for row in rows]
    columns = [[row.end_error for row in rows], [row.global_error for row in rows]]
    orders = [[math.nan] + observed_orders(n_ts, errors) for errors in columns]
    lines = ["   n_t      end err  order   L2(0,T) err  order"]
    for i, n_t in enumerate(n_ts):
        cells = "".join(
            f"  {errors[i]:11.3e}  {'-' if i == 0 else f'{order[i]:.2f}':>5}" for errors, order in zip(columns, orders)
        )
        lines.append(f"  {n_t:4d} {cells}")
    return lines


def write_figure(path: Path, tables: dict[Method, list[Row]], runs: dict[Method, list[MultigridRun]]) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from PIL import Image

    fig, axes = plt.subplots(1, 3, figsize=(14, 5.6), layout="constrained")
    for ax, continuous in zip(axes[:2], (True, False)):
        panel = [(method, rows) for method, rows in tables.items() if method.continuous == continuous]
        for index, (method, rows) in enumerate(panel):
            n_ts = np.array([row.n_t for row in rows], dtype=float)
            colour = f"C{index}"
            ends = np.array([row.end_error for row in rows])
            ax.loglog(n_ts, ends, "o-", color=colour, label=f"{method.name} ends, order {method.end_order}")
            ax.loglog(
                n_ts,
                [row.global_error for row in rows],
                "s--",
                color=colour,
                mfc="none",
                label=f"{method.name} L2(0,T), order {method.global_order}",
            )
            # The theoretical slope through the finest end error, drawn a little below it.
            ax.loglog(n_ts, 0.3 * ends[-1] * (n_ts / n_ts[-1]) ** -method.end_order, ":", color=colour, lw=1)
        grids = sorted({row.n_t for _, rows in panel for row in rows})
        ax.set_xticks(grids, labels=[str(n) for n in grids])
        ax.minorticks_off()
        ax.set_xlabel("n_t")
        ax.set_ylabel("error against the semi-discrete solution")
        ax.set_title(
            ("cGP(p)" if continuous else "dG(q)")
            + ": errors at the sub-interval ends and in L2(0,T)"
            + "\ndotted: slope of the end order",
            fontsize=10,
        )
        ax.grid(True, which="major", alpha=0.3)
        ax.legend(fontsize=7, ncol=2, loc="upper center", bbox_to_anchor=(0.5, -0.14))
    ax_mg = axes[2]
    for index, (method, method_runs) in enumerate(runs.items()):
        for shade, run in zip(np.linspace(0.35, 1.0, len(method_runs)), method_runs):
            relative = np.array(run.residuals) / run.residuals[0]
            ax_mg.semilogy(
                relative,
                "o-" if method.continuous else "s--",
                ms=3,
                color=f"C{index}",
                alpha=shade,
                label=f"{method.name}, n_t = {run.n_t}: factor {run.factor:.2f}",
            )
    ax_mg.set_xlabel("V-cycle")
    ax_mg.set_ylabel("relative residual")
    ax_mg.set_title("multigrid in time: residual per V-cycle\n(lighter: fewer sub-intervals)", fontsize=10)
    ax_mg.grid(True, alpha=0.3)
    ax_mg.xaxis.get_major_locator().set_params(integer=True)
    ax_mg.legend(fontsize=7, ncol=2, loc="upper center", bbox_to_anchor=(0.5, -0.14))
    fig.suptitle(f"zelk_arrays: heat equation in space-time, nu = {DIFFUSION}, {N_X} points in space, T = {T_END}")
    path.parent.mkdir(parents=True, exist_ok=True)
    # A palette of 128 colours keeps the figure small.
    buffer = io.BytesIO()
    fig.savefig(buffer, dpi=120)
    plt.close(fig)
    buffer.seek(0)
    with Image.open(buffer) as image:
        image.convert("RGB").quantize(colors=128).save(path, optimize=True)


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--quick", action="store_true", help="fewer grids, multigrid up to n_t = 256")
    parser.add_argument(
        "--output",
        type=Path,
        default=Path(__file__).resolve().parent / "output",
        help="folder for the figure (default: examples/output)",
    )
    args = parser.parse_args(argv)
    multigrid_grids = MULTIGRID_QUICK if args.quick else MULTIGRID_FULL
    problem = heat_problem()

    print(
        f"heat equation, nu = {DIFFUSION}, {N_X} points in space, T = {T_END}: "
        "errors against the semi-discrete solution"
    )
    print("(end: max over the sub-interval ends of the discrete L2 error; L2(0,T): in time and space)")
    tables: dict[Method, list[Row]] = {}
    failures: list[str] = []
    for method in METHODS:
        start = time.perf_counter()
        rows = [measure(method, problem, n_t) for n_t in table_grids(method, args.quick)]
        tables[method] = rows
        failures += order_failures(method, rows)
        elapsed_ms = (time.perf_counter() - start) * 1e3
        print(
            f"\n{method.name}: expected orders {method.end_order} (ends) / {method.global_order} (L2), "
            f"{elapsed_ms:.0f} ms",
            flush=True,
        )
        print("\n".join(format_table(rows)), flush=True)

    print(
        f"\nmultigrid in time: V({SMOOTHING_STEPS},{SMOOTHING_STEPS}), block Jacobi damped by {DAMPING}, "
        f"down to n_t = {COARSEST_N_T}; mean residual reduction per cycle"
    )
    runs: dict[Method, list[MultigridRun]] = {}
    for method in MULTIGRID_METHODS:
        start = time.perf_counter()
        runs[method] = [multigrid(method, problem, n_t) for n_t in multigrid_grids]
        failures += factor_failures(method, runs[method])
        elapsed_ms = (time.perf_counter() - start) * 1e3
        cells = ", ".join(
            f"n_t = {run.n_t}: {run.factor:.3f} ({len(run.residuals) - 1} cycles)" for run in runs[method]
        )
        print(f"  {method.name}: {cells}  [{elapsed_ms:.0f} ms]", flush=True)

    figure = args.output / ("space-time-heat-quick.png" if args.quick else "space-time-heat.png")
    write_figure(figure, tables, runs)
    print(f"\nfigure: {figure}")
    if failures:
        print("\nCHECK FAILED:\n  " + "\n  ".join(failures), file=sys.stderr)
        return 1
    print("check: every order within the tolerance of its theory, multigrid factors bounded and steady")
    return 0


if __name__ == "__main__":
    sys.exit(main())
