"""basis_matrix and Expansion on any space against the uniform functions, side by side in one run.

Degree 3, n_t = 10^4, 10^6 times: the uniform legendre_basis_matrix and
LegendreExpansion are the baseline; the same space through basis_matrix and
Expansion (the same bits), then a non-uniform grid, the interval-major layout
and nodal spaces (equispaced continuous, Gauss). Each route is repeated and
interleaved round by round; minima are reported as ratios to the baseline of
their kind. It prints and never fails: speed on a shared machine is a report.
"""

import time

import numpy as np

import zelk_arrays as za

ROUNDS = 5
DEGREE, N_T, T = 3, 10**4, 1.0
RNG = np.random.default_rng(0)
TIMES = RNG.uniform(0.0, T, 10**6)
GRADED = za.TimeGrid(np.linspace(0.0, 1.0, N_T + 1) ** 2)


def routes():
    uniform = za.LegendreSpace(DEGREE, N_T, T)
    spaces = {
        "uniform": uniform,
        "graded": za.LegendreSpace(DEGREE, GRADED),
        "interval-major": za.LegendreSpace(DEGREE, N_T, T, layout="interval-major"),
        "nodal cG": za.LagrangeSpace(DEGREE, N_T, T),
        "nodal gauss": za.LagrangeSpace(DEGREE, GRADED, nodes="gauss"),
    }
    c = RNG.standard_normal(uniform.dim)
    old = za.LegendreExpansion(DEGREE, N_T, T, c)
    matrices = {"matrix: legendre_basis_matrix": lambda: za.legendre_basis_matrix(DEGREE, N_T, T, TIMES)}
    values = {"values: LegendreExpansion": lambda: old(TIMES)}
    for name, space in spaces.items():
        f = za.Expansion(space, RNG.standard_normal(space.dim))
        matrices[f"matrix: {name}"] = lambda space=space: za.basis_matrix(space, TIMES)
        values[f"values: {name}"] = lambda f=f: f(TIMES)
        values[f"derivative: {name}"] = lambda f=f: f.derivative(TIMES)
    return matrices, values


def main():
    print(f"degree {DEGREE}, n_t {N_T}, {TIMES.size} times; minimum of {ROUNDS} interleaved rounds")
    for timed in routes():
        best = dict.fromkeys(timed, float("inf"))
        for _ in range(ROUNDS):
            for name, route in timed.items():
                start = time.perf_counter()
                route()
                best[name] = min(best[name], time.perf_counter() - start)
        base = next(iter(best.values()))
        for name, seconds in best.items():
            print(f"  {name:32s} {seconds * 1e3:8.2f} ms  {seconds / base:5.2f}x")


if __name__ == "__main__":
    main()
