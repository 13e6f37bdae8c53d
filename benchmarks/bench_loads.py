"""Quadrature and load vectors at n_t = 10**6 against the same work written with numpy, measured in the same run.

time_quadrature's baseline is numpy's leggauss on [-1, 1] and broadcasting
onto the sub-intervals (times (k + (x + 1) / 2) h, weights tiled).
load_vector's baseline is the same quadrature followed by the broadcast
contraction with the basis values at the nodes (a matrix product per
sub-interval) and the sum of a continuous space's shared nodes; f returns
a precomputed array in both, so its cost is not counted. Goals:
time_quadrature at most 1.0x and load_vector at most 1.2x their
baselines. Runs are interleaved and the minimum CPU time of each is taken (the
machine is shared, so wall time would count the other jobs). The script
reports and exits 0; with --check a missed
goal makes the exit status 1.
"""

import argparse
import time

import numpy as np

import zelk_arrays as za

N_T = 10**6
REPEATS = 7
T_END = 1.0


def numpy_quadrature(n, n_t):
    x, w = np.polynomial.legendre.leggauss(n)
    h = T_END / n_t
    times = (np.arange(n_t, dtype=np.float64)[:, None] + (x + 1.0) / 2.0) * h
    return times.reshape(-1), np.tile(w * (h / 2.0), n_t)


def basis_at(space, n):
    """The local basis at the rule's reference nodes, (n, degree + 1), as a numpy user would tabulate it."""
    x, _ = np.polynomial.legendre.leggauss(n)
    if isinstance(space, za.LegendreSpace):
        return np.polynomial.legendre.legvander(x, space.degree)
    nodes = np.linspace(-1.0, 1.0, space.degree + 1)
    values = np.ones((n, space.degree + 1))
    for j in range(space.degree + 1):
        for m in range(space.degree + 1):
            if m != j:
                values[:, j] *= (x - nodes[m]) / (nodes[j] - nodes[m])
    return values


def numpy_load(space, f, n):
    times, weights = numpy_quadrature(n, space.n_t)
    values = f(times)
    local = (weights * values).reshape(space.n_t, n) @ basis_at(space, n)
    if isinstance(space, za.LegendreSpace):
        return local.T.reshape(-1)
    p = space.degree
    out = np.empty(space.dim)
    out[:-1].reshape(space.n_t, p)[...] = local[:, :p]
    out[-1] = local[-1, p]
    out[p:-1:p] += local[:-1, p]
    return out


def best(runs):
    return min(runs)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="exit 1 when a goal is missed")
    args = parser.parse_args()
    missed = []
    print(f"n_t = {N_T}, minimum of {REPEATS} interleaved runs")
    for n in (2, 4):
        ours, theirs = [], []
        for _ in range(REPEATS):
            start = time.process_time()
            za.time_quadrature(n, N_T, T_END)
            ours.append(time.process_time() - start)
            start = time.process_time()
            numpy_quadrature(n, N_T)
            theirs.append(time.process_time() - start)
        ratio = best(ours) / best(theirs)
        print(
            f"time_quadrature n = {n}: {best(ours) * 1e3:7.2f} ms, numpy {best(theirs) * 1e3:7.2f} ms, "
            f"ratio {ratio:.2f} (goal 1.0)"
        )
        if ratio > 1.0:
            missed.append(f"time_quadrature n = {n}")
    for space in (za.LegendreSpace(2, N_T, T_END), za.LagrangeSpace(2, N_T, T_END), za.LegendreSpace(0, N_T, T_END)):
        n = space.degree + 1
        fixed = np.cos(za.time_quadrature(n, N_T, T_END)[0])
        f = lambda t: fixed  # noqa: E731 - f's own cost is not counted
        np.testing.assert_allclose(za.load_vector(space, f), numpy_load(space, f, n), rtol=1e-12, atol=1e-18)
        ours, theirs = [], []
        for _ in range(REPEATS):
            start = time.process_time()
            za.load_vector(space, f)
            ours.append(time.process_time() - start)
            start = time.process_time()
            numpy_load(space, f, n)
            theirs.append(time.process_time() - start)
        ratio = best(ours) / best(theirs)
        print(
            f"load_vector {space!r}: {best(ours) * 1e3:7.2f} ms, numpy {best(theirs) * 1e3:7.2f} ms, "
            f"ratio {ratio:.2f} (goal 1.2)"
        )
        if ratio > 1.2:
            missed.append(f"load_vector {space!r}")
    if missed:
        print("missed: " + ", ".join(missed))
        return 1 if args.check else 0
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
