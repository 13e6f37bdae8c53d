"""The two matrix builders of zelk_arrays against numpy routes and the write floor, and row ranges at n_t = 10^9.

All in one process, the routes interleaved round by round, minima of CPU time reported (the machine is shared):

- the transformation (3, 3*10^5) against its CSR arrays written directly with
  numpy broadcasting (one block per sub-interval), and against the write
  floor: allocating and filling three arrays of the same sizes;
- the prolongation (1000 -> 3*10^5, degree 3) against numpy computing all
  fine rows' barycentric Lagrange weights at once, and against the write floor;
- row ranges: degree 3 at n_t = 10^9 split into 1024 ranges; a sample of the
  ranges is built (interleaved with the whole matrix that fits), each set against 1/1024 of the whole matrix, whose bytes
  are extrapolated from the per-sub-interval entries of a whole matrix that
  fits (2^21 sub-intervals) at 64-bit indices, as the whole needs at 10^9, and
  whose time from that matrix's time per byte written (the builders are
  bound by writing).

It prints ratios and never fails: speed on a shared machine is a report.
"""

import sys
import time

import numpy as np

import zelk_arrays as za

ROUNDS = 7


def transformation_numpy(p, n):
    """The transformation's CSR arrays from numpy broadcasting: one (p+1) x (p+1) block per sub-interval."""
    w = za.lagrange_to_legendre_basis_transformation(p, 1).toarray()  # the weights, row p = coefficient p
    local = p + 1
    k = np.arange(n, dtype=np.int32)
    indices = np.broadcast_to((k * p)[None, :, None] + np.arange(local, dtype=np.int32), (local, n, local))
    data = np.broadcast_to(w[:, None, :], (local, n, local))
    indptr = np.arange(0, local * local * n + 1, local, dtype=np.int32)
    return np.ascontiguousarray(data).ravel(), np.ascontiguousarray(indices).ravel(), indptr


def prolongation_numpy(nc, nf, p):
    """All fine rows' Lagrange weights at once, in the builder's operand order, and their columns."""
    n = nf * p
    r = -1.0 + (2.0 * np.arange(p + 1)) / p
    diff = r[:, None] - r[None, :]
    np.fill_diagonal(diff, 1.0)
    w = 1.0 / np.prod(diff, axis=1)
    s = (np.arange(n + 1) / float(n)) * float(nc)
    j = np.minimum(np.floor(s).astype(np.int64), nc - 1)
    d = s - j
    xi = (d + d) - 1.0
    with np.errstate(divide="ignore", invalid="ignore"):
        values = w / (xi[:, None] - r)
        values /= values.sum(axis=1, keepdims=True)
    columns = j[:, None] * p + np.arange(p + 1)
    return values.ravel(), columns.ravel(), np.arange(0, (p + 1) * (n + 1) + 1, p + 1)


def write_floor(nnz, nrows, index):
    """Fresh arrays of the result's sizes, each written once."""
    data = np.empty(nnz)
    data.fill(0.5)
    indices = np.empty(nnz, dtype=index)
    indices.fill(1)
    indptr = np.empty(nrows + 1, dtype=index)
    indptr.fill(1)
    return data, indices, indptr


def minima(routes, rounds=ROUNDS):
    best = dict.fromkeys(routes, float("inf"))
    for _ in range(rounds):
        for name, run in routes.items():
            start = time.process_time()
            run()
            best[name] = min(best[name], time.process_time() - start)
    return best


def report(title, best, reference, goals=None):
    print(title)
    for name, seconds in best.items():
        ratio = "" if name == reference else f"   zelk_arrays / this = {best[reference] / seconds:5.2f}"
        goal = (goals or {}).get(name)
        if goal is not None:
            ratio += f" (goal <= {goal}: {'ok' if best[reference] / seconds <= goal else 'MISSED'})"
        print(f"  {name:34s} {seconds * 1e3:8.2f} ms{ratio}")


def builders():
    p, n = 3, 3 * 10**5
    t = za.lagrange_to_legendre_basis_transformation(p, n)
    report(
        f"transformation({p}, {n}): {t.nnz} entries",
        minima(
            {
                "zelk_arrays": lambda: za.lagrange_to_legendre_basis_transformation(p, n),
                "numpy broadcasting, direct CSR": lambda: transformation_numpy(p, n),
                "write floor": lambda: write_floor(t.nnz, t.shape[0], t.indices.dtype),
            }
        ),
        "zelk_arrays",
    )
    nc, nf = 1000, 3 * 10**5
    m = za.lagrange_prolongation_matrix(nc, nf, p)
    report(
        f"prolongation({nc}, {nf}, {p}): {m.nnz} entries",
        minima(
            {
                "zelk_arrays": lambda: za.lagrange_prolongation_matrix(nc, nf, p),
                "numpy, all rows' weights at once": lambda: prolongation_numpy(nc, nf, p),
                "write floor": lambda: write_floor(m.nnz, m.shape[0], m.indices.dtype),
            }
        ),
        "zelk_arrays",
        {"write floor": 2},
    )


def nbytes(matrix):
    return matrix.data.nbytes + matrix.indices.nbytes + matrix.indptr.nbytes


def ranges(pieces=1024, n_t=10**9, sample=6):
    p = 3
    small = 2**21
    builds = {
        "prolongation": lambda nf, intervals=None: za.lagrange_prolongation_matrix(nf // 2, nf, p, intervals=intervals),
        "transformation": lambda nf, intervals=None: za.lagrange_to_legendre_basis_transformation(
            p, nf, intervals=intervals
        ),
    }
    print(f"row ranges, degree {p}, n_t = {n_t} in {pieces} ranges (whole extrapolated from n_t = {small}):")
    for name, build in builds.items():
        whole_small = build(small)
        # The whole matrix at n_t needs 64-bit indices: 16 bytes an entry, 8 a row.
        per_interval_bytes = (whole_small.nnz * 16 + whole_small.shape[0] * 8) / small
        share_bytes = per_interval_bytes * n_t / pieces
        del whole_small
        picks = np.linspace(0, pieces - 1, sample).astype(int).tolist()
        samples = [(n_t * i // pieces, n_t * (i + 1) // pieces) for i in picks]
        routes = {"whole": lambda: build(small)}
        routes.update({interval: lambda interval=interval: build(n_t, interval) for interval in samples})
        best = minima(routes, 3)
        share_seconds = best.pop("whole") / nbytes(build(small)) * share_bytes
        worst_seconds = max(best.values()) / share_seconds
        worst_bytes = max(nbytes(build(n_t, interval)) for interval in samples) / share_bytes
        print(
            f"  {name:15s} 1/{pieces} share {share_seconds * 1e3:7.1f} ms, {share_bytes / 2**20:6.1f} MiB; "
            f"worst of {sample} ranges: {worst_seconds:4.2f}x its time, {worst_bytes:4.2f}x its bytes (goal <= 1.2)"
        )


if __name__ == "__main__":
    builders()
    if "--quick" not in sys.argv:
        ranges()
