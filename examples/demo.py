"""Convergence study of the nodal -> modal -> evaluate -> prolongate workflow.

For u(t) = sin(2 pi t) + t^2 / 2 on [0, 1] and every degree 1..4 the demo
samples u at the Lagrange points of a grid of n_t sub-intervals, turns the
nodal values into Legendre coefficients, evaluates value and time derivative
on a dense grid of times and prolongs the nodal values to a grid twice as fine.
It prints the maximum errors with the observed order between rows, writes a
figure, and exits with status 1 if the orders are not the expected ones
(degree + 1 for values and prolonged values, degree for the derivative).

    python examples/demo.py            # n_t = 4 ... 128, figure in examples/output/
    python examples/demo.py --quick    # n_t = 4 ... 32, for the test run
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

import zelk_arrays

Vector = npt.NDArray[np.float64]

DEGREES = (1, 2, 3, 4)
FULL_GRIDS = (4, 8, 16, 32, 64, 128)
QUICK_GRIDS = (4, 8, 16, 32)
T_END = 1.0
# Times per sub-interval on the dense evaluation grid; sub-interval ends are on it.
SAMPLES_PER_INTERVAL = 16
# How far the last observed order may lie from the expected one.
ORDER_TOLERANCE = 0.25
# The interpolant drawn in the figure.
FIGURE_DEGREE, FIGURE_N_T = 2, 4
# The reference slopes run this factor below the finest error, so that they stay visible.
SLOPE_OFFSET = 0.25


def u(t: Vector) -> Vector:
    return np.sin(2.0 * np.pi * t) + 0.5 * t * t


def du(t: Vector) -> Vector:
    return 2.0 * np.pi * np.cos(2.0 * np.pi * t) + t


def interpolant(degree: int, n_t: int, f: Vector) -> zelk_arrays.LegendreExpansion:
    """The piecewise interpolant of the nodal values f (one per Lagrange point)."""
    to_legendre = zelk_arrays.lagrange_to_legendre_basis_transformation(degree, n_t)
    return zelk_arrays.LegendreExpansion(degree, n_t, T_END, to_legendre @ f)


def prolong(degree: int, nt_coarse: int, nt_fine: int, f: Vector) -> Vector:
    fine: Vector = zelk_arrays.lagrange_prolongation_matrix(nt_coarse, nt_fine, degree) @ f
    return fine


@dataclass(frozen=True)
class Row:
    n_t: int
    value_error: float
    derivative_error: float
    prolongation_error: float


def measure(degree: int, n_t: int) -> Row:
    points = zelk_arrays.get_lagrange_points(degree, n_t, T_END)
    nodal = u(points)
    expansion = interpolant(degree, n_t, nodal)
    times = np.linspace(0.0, T_END, SAMPLES_PER_INTERVAL * n_t + 1)
    values = expansion(times)
    derivatives = expansion.derivative(times)
    fine_points = zelk_arrays.get_lagrange_points(degree, 2 * n_t, T_END)
    prolonged = prolong(degree, n_t, 2 * n_t, nodal)
    return Row(
        n_t=n_t,
        value_error=float(np.max(np.abs(values - u(times)))),
        derivative_error=float(np.max(np.abs(derivatives - du(times)))),
        prolongation_error=float(np.max(np.abs(prolonged - u(fine_points)))),
    )


def observed_orders(n_ts: Sequence[int], errors: Sequence[float]) -> list[float]:
    """Order between consecutive rows: log(e_coarse / e_fine) / log(n_fine / n_coarse)."""
    return [math.log(e0 / e1) / math.log(n1 / n0) for n0, n1, e0, e1 in zip(n_ts, n_ts[1:], errors, errors[1:])]


def order_failures(degree: int, rows: Sequence[Row]) -> list[str]:
    """What is wrong with the orders of one degree's table; empty when they are as expected."""
    n_ts = [row.n_t for row in rows]
    checks = (
        ("value", [row.value_error for row in rows], degree + 1),
        ("derivative", [row.derivative_error for row in rows], degree),
        ("prolongation", [row.prolongation_error for row in rows], degree + 1),
    )
    failures = []
    for name, errors, expected in checks:
        if len(errors) < 2 or not all(math.isfinite(e) and e > 0.0 for e in errors):
            failures.append(f"degree {degree}: {name} errors {errors} give no order")
            continue
        last = observed_orders(n_ts, errors)[-1]
        if abs(last - expected) > ORDER_TOLERANCE:
            failures.append(f"degree {degree}: {name} order {last:.2f}, expected {expected}")
    return failures


def format_table(rows: Sequence[Row]) -> list[str]:
    n_ts = [row.n_t for row in rows]
    columns = [
        [row.value_error for row in rows],
        [row.derivative_error for row in rows],
        [row.prolongation_error for row in rows],
    ]
    orders = [[math.nan] + observed_orders(n_ts, errors) for errors in columns]
    lines = ["   n_t    value err  order    deriv err  order   prolong err  order"]
    for i, n_t in enumerate(n_ts):
        cells = "".join(
            f"  {errors[i]:11.3e}  {'-' if i == 0 else f'{order[i]:.2f}':>5}" for errors, order in zip(columns, orders)
        )
        lines.append(f"  {n_t:4d} {cells}")
    return lines


def write_figure(path: Path, tables: dict[int, list[Row]]) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from PIL import Image

    fig, axes = plt.subplots(2, 2, figsize=(10, 7.2), layout="constrained")
    (ax_u, ax_du), (ax_err, ax_derr) = axes
    fine = np.linspace(0.0, T_END, 801)
    points = zelk_arrays.get_lagrange_points(FIGURE_DEGREE, FIGURE_N_T, T_END)
    expansion = interpolant(FIGURE_DEGREE, FIGURE_N_T, u(points))
    ends = np.linspace(0.0, T_END, FIGURE_N_T + 1)

    ax_u.plot(fine, u(fine), color="0.6", lw=3, label="u(t)")
    ax_du.plot(fine, du(fine), color="0.6", lw=3, label="u'(t)")
    for k in range(FIGURE_N_T):
        # Stop just short of the right end: a time on it belongs to the next sub-interval.
        inside = np.linspace(ends[k], ends[k + 1] - 1e-9, 60)
        label = "interpolant" if k == 0 else None
        ax_u.plot(inside, expansion(inside), "C0", label=label)
        ax_du.plot(inside, expansion.derivative(inside), "C0", label=label)
    ax_u.plot(points, u(points), "o", color="C0", ms=4, label="Lagrange points")
    for ax in (ax_u, ax_du):
        for k, end in enumerate(ends):
            ax.axvline(end, color="C3", ls=":", lw=1, label="sub-interval ends" if k == 0 else None)
        ax.set_xlabel("t")
        ax.legend(loc="lower left", fontsize=8)
    ax_u.set_ylabel("u(t)")
    ax_du.set_ylabel("du/dt")
    ax_u.set_title(f"u and its interpolant, degree {FIGURE_DEGREE}, n_t = {FIGURE_N_T}")
    ax_du.set_title("time derivative: jumps at the sub-interval ends")

    for degree, rows in tables.items():
        n_ts = np.array([row.n_t for row in rows], dtype=float)
        colour = f"C{degree - 1}"
        for ax, errors, order in (
            (ax_err, [row.value_error for row in rows], degree + 1),
            (ax_derr, [row.derivative_error for row in rows], degree),
        ):
            ax.loglog(n_ts, errors, "o-", color=colour, label=f"degree {degree}", zorder=2)
            # Reference slope a factor SLOPE_OFFSET below the finest point, drawn over the data.
            ax.loglog(
                n_ts,
                SLOPE_OFFSET * errors[-1] * (n_ts / n_ts[-1]) ** -order,
                "--",
                color=colour,
                lw=1.2,
                alpha=0.8,
                zorder=3,
            )
        ax_err.loglog(
            n_ts,
            [row.prolongation_error for row in rows],
            "x",
            color="k",
            ms=7,
            zorder=4,
            label="prolonged nodal values" if degree == DEGREES[-1] else None,
        )
    ax_err.set_ylabel("max |value error|")
    ax_derr.set_ylabel("max |derivative error|")
    ax_err.set_title("value error\ndashed: slope n_t^-(degree+1), shifted below")
    ax_derr.set_title("derivative error\ndashed: slope n_t^-degree, shifted below")
    grids = [row.n_t for row in next(iter(tables.values()))]
    for ax in (ax_err, ax_derr):
        ax.set_xticks(grids, labels=[str(n) for n in grids], minor=False)
        ax.minorticks_off()
        ax.set_xlabel("n_t")
        ax.grid(True, which="major", alpha=0.3)
        ax.legend(fontsize=8)
    fig.suptitle("zelk: u(t) = sin(2\u03c0t) + t\u00b2/2 on [0, 1]")
    path.parent.mkdir(parents=True, exist_ok=True)
    # A palette of 128 colours keeps the 150 dpi figure small enough to live in the repository.
    buffer = io.BytesIO()
    fig.savefig(buffer, dpi=150)
    plt.close(fig)
    buffer.seek(0)
    with Image.open(buffer) as image:
        image.convert("RGB").quantize(colors=128).save(path, optimize=True)


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--quick", action="store_true", help="n_t = 4 ... 32 only")
    parser.add_argument(
        "--output",
        type=Path,
        default=Path(__file__).resolve().parent / "output",
        help="folder for the figure (default: examples/output)",
    )
    args = parser.parse_args(argv)
    grids = QUICK_GRIDS if args.quick else FULL_GRIDS

    print("u(t) = sin(2 pi t) + t^2/2 on [0, 1]: maximum errors of the piecewise interpolant")
    print(f"(value and derivative on {SAMPLES_PER_INTERVAL} n_t + 1 times, prolonged nodal values on 2 n_t)")
    tables: dict[int, list[Row]] = {}
    failures: list[str] = []
    for degree in DEGREES:
        start = time.perf_counter()
        rows = [measure(degree, n_t) for n_t in grids]
        tables[degree] = rows
        failures += order_failures(degree, rows)
        elapsed_ms = (time.perf_counter() - start) * 1e3
        print(
            f"\ndegree {degree}: n_t = {', '.join(map(str, grids))} in {elapsed_ms:.0f} ms "
            f"(expected orders {degree + 1} / {degree} / {degree + 1})",
            flush=True,
        )
        print("\n".join(format_table(rows)), flush=True)

    figure = args.output / ("convergence-quick.png" if args.quick else "convergence.png")
    write_figure(figure, tables)
    print(f"\nfigure: {figure}")
    if failures:
        print("\nORDER CHECK FAILED:\n  " + "\n  ".join(failures), file=sys.stderr)
        return 1
    print("order check: every degree converges at the expected rates")
    return 0


if __name__ == "__main__":
    sys.exit(main())
