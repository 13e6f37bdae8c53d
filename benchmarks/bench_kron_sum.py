"""kron_sum against scipy's sum of Kronecker products and against the write floor, for a dG(1) space-time operator.

The operator kron(D + J, I) + kron(M, A): dG(1) in time (interval-major
Legendre, derivative plus upwind jump, and the mass), a two-dimensional
five-point Laplacian A on an m x m grid with the identity I in space. With
n_t = 100 and m = 100 it has N = 2 * 10^6 rows. All in one process, the
routes interleaved round by round, minima reported:

- scipy: ``sum(scipy.sparse.kron(T, S, format="csr") for T, S in terms)``;
- kron_sum: the same matrix, bit for bit (checked once);
- write floor: allocating and filling three arrays of the result's sizes;
- preallocation: the per-row counts for a column block of half the
  columns, from kron_sum's count-only pass, against building the piece.

Minima of wall time and of the process's CPU time (system time included, so
the kernel's zeroing of fresh pages counts for every route) are both printed:
on a machine shared with other work, CPU time is the steadier of the two.
It prints ratios and never fails: speed on a shared machine is a report.
"""

import resource
import sys
import time

import numpy as np
import scipy.sparse as sp

import zelk_arrays as za

ROUNDS = 5


def laplacian(m):
    one = sp.diags_array([-np.ones(m - 1), 2.0 * np.ones(m), -np.ones(m - 1)], offsets=[-1, 0, 1], format="csr")
    eye = sp.eye_array(m, format="csr")
    return (sp.kron(one, eye, format="csr") + sp.kron(eye, one, format="csr")).tocsr()


def terms(n_t, m):
    time = za.LegendreSpace(1, n_t, layout="interval-major")
    dj = za.time_derivative_matrix(time, time) + za.time_jump_matrix(time, time)
    return [(dj, sp.eye_array(m * m, format="csr")), (za.time_mass_matrix(time, time), laplacian(m))]


def write_floor(nnz, nrows, index):
    """Fresh arrays of the result's sizes, each written once."""
    data = np.empty(nnz)
    data.fill(0.5)
    indices = np.empty(nnz, dtype=index)
    indices.fill(1)
    indptr = np.empty(nrows + 1, dtype=index)
    indptr.fill(1)
    return data, indices, indptr


def main():
    n_t, m = (10, 30) if "--quick" in sys.argv else (100, 100)
    pairs = terms(n_t, m)
    ours = za.kron_sum(pairs)
    theirs = sum(sp.kron(t, s, format="csr") for t, s in pairs)
    same = all(np.array_equal(a, b) for a, b in ((ours.indptr, theirs.indptr), (ours.indices, theirs.indices)))
    same = same and np.array_equal(ours.data.view(np.uint64), theirs.data.view(np.uint64))
    nnz, (nrows, ncols), index = ours.nnz, ours.shape, ours.indices.dtype
    del ours, theirs
    routes = {
        "scipy": lambda: sum(sp.kron(t, s, format="csr") for t, s in pairs),
        "kron_sum": lambda: za.kron_sum(pairs),
        "write floor": lambda: write_floor(nnz, nrows, index),
        "preallocation": lambda: za.preallocation(za.kron_sum, pairs, columns=(0, ncols // 2)),
    }
    clocks = {"wall": time.perf_counter, "cpu": time.process_time}
    best = {(clock, name): float("inf") for clock in clocks for name in routes}
    faults = dict.fromkeys(routes, float("inf"))
    for _ in range(ROUNDS):
        for name, run in routes.items():
            starts = {clock: now() for clock, now in clocks.items()}
            faulted = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
            run()
            faults[name] = min(faults[name], resource.getrusage(resource.RUSAGE_SELF).ru_minflt - faulted)
            for clock, now in clocks.items():
                best[clock, name] = min(best[clock, name], now() - starts[clock])
    print(f"dG(1) x 5-point Laplacian: N = {nrows} rows, {nnz} entries; bit-identical to scipy: {same}")
    for clock in clocks:
        times = "  ".join(f"{name} {best[clock, name] * 1e3:8.2f} ms" for name in routes)
        print(f"  {clock:4s}: {times}")
        print(
            f"        scipy / kron_sum {best[clock, 'scipy'] / best[clock, 'kron_sum']:5.1f} x (goal >= 10), "
            f"kron_sum / write floor {best[clock, 'kron_sum'] / best[clock, 'write floor']:5.2f} x (goal <= 1.5), "
            f"preallocation / kron_sum {best[clock, 'preallocation'] / best[clock, 'kron_sum']:5.2f} x"
        )
    print("  page faults (minimum per call): " + "  ".join(f"{name} {faults[name]}" for name in routes))


if __name__ == "__main__":
    main()
