"""A LegendreExpansion of many columns against the routes a user has without it, side by side in one run.

For 1 to 64 expansions on one grid (degree 3, n_t = 1000, 10^5 times), each
route repeated and interleaved round by round, minima reported:
- batch: one LegendreExpansion with coefficients of shape (n_t * 4, columns);
- per column: one LegendreExpansion per column, called in a Python loop;
- basis matrix: legendre_basis_matrix(...) @ coefficients (the matrix built once per call).
Value and derivative alike. It prints ratios and never fails: speed on a shared
machine is a report.
"""

import time

import numpy as np

import zelk_arrays as za

ROUNDS = 5
DEGREE, N_T, T = 3, 1000, 1.0
TIMES = np.random.default_rng(0).uniform(0.0, T, 10**5)


def routes(coefficients):
    batch = za.LegendreExpansion(DEGREE, N_T, T, coefficients)
    singles = [za.LegendreExpansion(DEGREE, N_T, T, coefficients[:, c]) for c in range(coefficients.shape[1])]
    return {
        "batch": lambda: batch(TIMES),
        "per column": lambda: np.stack([f(TIMES) for f in singles], axis=-1),
        "basis matrix": lambda: za.legendre_basis_matrix(DEGREE, N_T, T, TIMES) @ coefficients,
    }


def main():
    print(f"degree {DEGREE}, n_t {N_T}, {TIMES.size} times; minimum of {ROUNDS} interleaved rounds")
    for columns in (1, 4, 16, 64):
        coefficients = np.random.default_rng(columns).standard_normal((N_T * (DEGREE + 1), columns))
        timed = routes(coefficients)
        best = dict.fromkeys(timed, float("inf"))
        for _ in range(ROUNDS):
            for name, route in timed.items():
                start = time.perf_counter()
                route()
                best[name] = min(best[name], time.perf_counter() - start)
        base = best["batch"]
        cells = ", ".join(f"{name} {seconds * 1e3:.2f} ms ({seconds / base:.1f}x)" for name, seconds in best.items())
        print(f"{columns:3d} columns: {cells}")


if __name__ == "__main__":
    main()
