"""Time operators at n_t = 10**6, degree 3, against a write floor and scikit-fem, measured in the same run.

One table of (builder, trial space, test space) cases, each generated for
every variant: the uniform grid of [0, 1], a graded grid (points
(k / n_t)**2, finer near 0, whose mass matrices scale every sub-interval by
its own step), Lagrange spaces on Radau, Gauss and Lobatto nodes, and the
interval-major Legendre layout, on both grids.

The write floor allocates and fills a CSR matrix's three arrays of the same
sizes (values, column indices and row offsets, with the same index type).
Goals: every operator at most 1.5x the floor, and at least 30x faster than
scikit-fem's assembly of a matrix of the same kind (a degree-3 line element,
mass or derivative form) on 10**6 elements. Times are CPU times
(time.process_time); runs are interleaved and the minimum of each is taken,
as the machine is shared. The script reports and exits 0; with --check a
missed goal makes the exit status 1.

With --once each case is built once and nothing is timed, for instruction
counts that do not depend on the load: each build lies between two calls of
os.getpid, so that

    valgrind --tool=callgrind --dump-before=getpid python benchmarks/bench_operators.py --once --n-t 100000

writes one dump per build (the 2nd, 4th, ... of the run), next to others.
"""

import argparse
import os
import time

import numpy as np

import zelk_arrays as za

REPEATS = 5
GOAL = 1.5
BUILDERS = {"mass": za.time_mass_matrix, "derivative": za.time_derivative_matrix, "jump": za.time_jump_matrix}


def variants(n_t):
    """Each variant: (name, grid, Lagrange node family or None for the default, Legendre layout)."""
    graded = za.TimeGrid((np.arange(n_t + 1) / n_t) ** 2)
    table = []
    for grid_name, grid in (("uniform", n_t), ("graded", graded)):
        table.append((grid_name, grid, None, "polynomial-major"))
        table.append((f"{grid_name} interval-major", grid, None, "interval-major"))
        for nodes in ("radau-right", "gauss", "lobatto"):
            table.append((f"{grid_name} {nodes}", grid, nodes, "polynomial-major"))
    return table


def cases(n_t):
    """The (label, builder, trial, test) cases: each pair of spaces and builder on every variant it has a meaning on."""
    result = []
    for variant, grid, nodes, layout in variants(n_t):

        def lagrange(degree, continuous=True, nodes=nodes, grid=grid):
            if nodes is None:
                return za.LagrangeSpace(degree, grid) if continuous else None
            if continuous and nodes != "lobatto":
                return None  # continuity needs both ends among the nodes
            return za.LagrangeSpace(degree, grid, nodes=nodes, continuous=continuous)

        def legendre(degree, layout=layout, grid=grid):
            return za.LegendreSpace(degree, grid, layout=layout)

        pairs = {
            "cGP(3)     Lagrange(3) x Legendre(2)": (lagrange(3), legendre(2), ("mass", "derivative")),
            "           Lagrange(3) x Lagrange(3)": (lagrange(3), lagrange(3), ("mass", "derivative")),
            "dG(3)      Legendre(3)": (legendre(3), legendre(3), ("mass", "derivative", "jump")),
            "dG(3)      Lagrange(3) discontinuous": (
                lagrange(3, continuous=False),
                lagrange(3, continuous=False),
                ("mass", "derivative", "jump"),
            ),
        }
        for pair, (trial, test, kinds) in pairs.items():
            if trial is None or test is None:
                continue
            if nodes is not None and trial.__class__ is test.__class__ is za.LegendreSpace:
                continue  # the node family does not touch a Legendre pair
            if layout == "interval-major" and za.LegendreSpace not in (trial.__class__, test.__class__):
                continue  # nor does the layout touch a Lagrange pair
            for kind in kinds:
                result.append((f"{variant:<26} {kind:<10} {pair}", BUILDERS[kind], kind, trial, test))
    return result


def cpu_seconds(action):
    start = time.process_time()
    result = action()
    return time.process_time() - start, result


def floor(nnz, nrows, index_dtype):
    """Allocate and fill arrays of the sizes of a CSR matrix."""
    data = np.empty(nnz)
    data.fill(1.0)
    indices = np.empty(nnz, dtype=index_dtype)
    indices.fill(1)
    indptr = np.empty(nrows + 1, dtype=index_dtype)
    indptr.fill(1)
    return data, indices, indptr


def scikit_fem_seconds(n_t):
    """Best of two assemblies of the mass and derivative forms on ElementLinePp(3), or None without scikit-fem."""
    try:
        import skfem
        from skfem.helpers import grad
    except ImportError:
        return None
    basis = skfem.Basis(skfem.MeshLine(np.linspace(0.0, 1.0, n_t + 1)), skfem.ElementLinePp(3))
    mass = skfem.BilinearForm(lambda u, v, _: u * v)
    derivative = skfem.BilinearForm(lambda u, v, _: grad(u)[0] * v)
    return {
        "mass": min(cpu_seconds(lambda: mass.assemble(basis))[0] for _ in range(2)),
        "derivative": min(cpu_seconds(lambda: derivative.assemble(basis))[0] for _ in range(2)),
    }


def once(n_t, match):
    """Each case built once, its label and entry count printed: the builds in order, for an instruction counter."""
    for label, builder, _, trial, test in cases(n_t):
        if match in label:
            os.getpid()  # a mark an instruction counter can dump at
            nnz = builder(trial, test).nnz
            os.getpid()
            print(f"{label}: {nnz} entries", flush=True)
    return 0


def main(n_t, check, skip_reference, match):
    reference = None if skip_reference else scikit_fem_seconds(n_t)
    failures = 0
    for label, builder, kind, trial, test in cases(n_t):
        if match and match not in label:
            continue
        warm = builder(trial, test)
        sizes = (warm.nnz, warm.shape[0], warm.indices.dtype)
        del warm
        ours, floors = [], []
        for _ in range(REPEATS):  # interleaved: both see the same load
            elapsed, matrix = cpu_seconds(lambda: builder(trial, test))
            ours.append(elapsed)
            del matrix
            elapsed, arrays = cpu_seconds(lambda: floor(*sizes))
            floors.append(elapsed)
            del arrays
        ratio = min(ours) / max(min(floors), 1e-9)
        line = f"{label}: {min(ours):.4f} s = {ratio:.2f}x the write floor ({min(floors):.4f} s)"
        ok = ratio <= GOAL
        if reference is not None and kind != "jump":
            speedup = reference[kind] / max(min(ours), 1e-9)
            line += f", {speedup:.0f}x faster than scikit-fem's {kind} assembly"
            ok = ok and speedup >= 30
        failures += not ok
        print(line + f" [{'ok' if ok else 'MISSED'}]", flush=True)
    if reference is None:
        print("scikit-fem is not installed: its comparison is left out")
    if failures:
        print(f"{failures} case(s) missed a goal" + ("" if check else " (reported only; --check makes this fail)"))
    return 1 if check and failures else 0


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="exit with status 1 when a goal is missed")
    parser.add_argument("--no-scikit-fem", action="store_true", help="leave out the scikit-fem comparison")
    parser.add_argument("--n-t", type=int, default=10**6, help="sub-intervals (default 10**6)")
    parser.add_argument("--match", default="", help="run only the cases whose label contains this text")
    parser.add_argument("--once", action="store_true", help="build each case once, untimed (for callgrind)")
    arguments = parser.parse_args()
    if arguments.once:
        raise SystemExit(once(arguments.n_t, arguments.match))
    raise SystemExit(main(arguments.n_t, arguments.check, arguments.no_scikit_fem, arguments.match))
