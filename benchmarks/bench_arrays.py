"""zelk_arrays against the routes a user has without it, measured side by side in one run.

Matrices and points: each route in a fresh process, the routes interleaved
round by round, minima reported; peak memory is ru_maxrss above the level
before the call, set against the bytes of the returned arrays. Baselines:
the scipy kron construction of an operator with the same number of entries,
and zelk's lists turned into a csr_array (np.linspace for the points).

Evaluation (in one process, interleaved, minima): LegendreExpansion at 10^5
times against numpy (locate the sub-interval, then legval) and against a
Python loop over zelk's LegendreBasisEvaluator.evaluate_at; and two threads
on independent inputs against one thread doing both jobs.

It prints ratios and never fails: speed on a shared machine is a report.
"""

import json
import os
import subprocess
import sys
import threading
import time

import numpy as np
from numpy.polynomial import legendre

import zelk
import zelk_arrays as za

ROUNDS = 3

SETUP = {
    "prolongation": "nc, nf, p = 1000, 10**6, 3",
    "transformation": "p, n = 3, 10**6",
    "points": "p, n = 1, 10**7",
}
ROUTES = {
    "prolongation": {
        "zelk_arrays": "za.lagrange_prolongation_matrix(nc, nf, p)",
        "scipy kron": "sparse.kron(sparse.identity(nc, format='csr'), "
        "sparse.csr_array(np.random.default_rng(0).random((nf // nc * p, p + 1))), format='csr')",
        "zelk lists -> csr_array": "(lambda r, c, v: sparse.csr_array((np.array(v), (np.array(r), np.array(c))), "
        "shape=(nf * p + 1, nc * p + 1)))(*zelk.lagrange_prolongation_matrix(nc, nf, p))",
    },
    "transformation": {
        "zelk_arrays": "za.lagrange_to_legendre_basis_transformation(p, n)",
        "scipy kron": "sparse.kron(sparse.csr_array(np.random.default_rng(0).random((p + 1, p + 1))), "
        "sparse.identity(n, format='csr'), format='csr')",
        "zelk lists -> csr_array": "(lambda r, c, v: sparse.csr_array((np.array(v), (np.array(r), np.array(c))), "
        "shape=((p + 1) * n, n * p + 1)))(*zelk.lagrange_to_legendre_basis_transformation(p, n))",
    },
    "points": {
        "zelk_arrays": "za.get_lagrange_points(p, n, 1.0)",
        "np.linspace": "np.linspace(0.0, 1.0, n * p + 1)",
        "zelk list -> np.array": "np.array(zelk.get_lagrange_points(p, n, 1.0))",
    },
}

RUN = r"""
import json, resource, sys, time
import numpy as np
from scipy import sparse
import zelk, zelk_arrays as za

def maxrss():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024

exec(sys.argv[1])
start = maxrss()
t0 = time.perf_counter()
result = eval(sys.argv[2])
seconds = time.perf_counter() - t0
arrays = [result.data, result.indices, result.indptr] if hasattr(result, "indptr") else [result]
print(json.dumps({"seconds": seconds, "peak": maxrss() - start, "bytes": sum(a.nbytes for a in arrays)}))
"""


def fresh(setup, expression):
    out = subprocess.run([sys.executable, "-c", RUN, setup, expression], check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def matrices_and_points():
    for job, routes in ROUTES.items():
        runs = {route: [] for route in routes}
        for _ in range(ROUNDS):
            for route, expression in routes.items():
                runs[route].append(fresh(SETUP[job], expression))
        best = {route: min(r["seconds"] for r in results) for route, results in runs.items()}
        ours = best["zelk_arrays"]
        peak = min(r["peak"] for r in runs["zelk_arrays"])
        returned = runs["zelk_arrays"][0]["bytes"]
        print(f"{job}: zelk_arrays {ours:.3f} s, peak {peak / 2**20:.0f} MiB = {peak / returned:.2f}x "
              f"the returned arrays ({returned / 2**20:.0f} MiB)")
        for route, seconds in best.items():
            if route != "zelk_arrays":
                print(f"    {route}: {seconds:.3f} s = {seconds / ours:.2f}x zelk_arrays' time")


def best_of(function, repeat):
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        function()
        best = min(best, time.perf_counter() - t0)
    return best


def numpy_route(coefficients, degree, n_t, T, times):
    h = T / n_t
    k = np.clip(np.floor(times / h), 0, n_t - 1).astype(np.intp)
    x = np.clip((times - h * k) * (2.0 / h) - 1.0, -1.0, 1.0)
    return legendre.legval(x, coefficients.reshape(degree + 1, n_t)[:, k], tensor=False)


def evaluation():
    n_t, T, rng = 1000, 2.0, np.random.default_rng(1)
    times = rng.uniform(0.0, T, 10**5)
    for degree in (1, 3, 8):
        coefficients = rng.normal(size=n_t * (degree + 1))
        f = za.LegendreExpansion(degree, n_t, T, coefficients)
        evaluator = zelk.LegendreBasisEvaluator(degree, n_t, T)
        evaluator.set_dofs(coefficients.tolist())
        assert np.allclose(numpy_route(coefficients, degree, n_t, T, times), f(times), rtol=1e-9, atol=1e-9)
        ours, via_numpy, loop = float("inf"), float("inf"), float("inf")
        for _ in range(5):  # interleaved rounds
            ours = min(ours, best_of(lambda: f(times), 10))
            via_numpy = min(via_numpy, best_of(lambda: numpy_route(coefficients, degree, n_t, T, times), 10))
            loop = min(loop, best_of(lambda: [evaluator.evaluate_at(t) for t in times.tolist()], 1))
        print(f"LegendreExpansion at 10^5 times, degree {degree}: {ours * 1e3:.2f} ms; "
              f"numpy locate+legval {via_numpy * 1e3:.2f} ms = {via_numpy / ours:.1f}x, "
              f"Python loop over evaluate_at {loop * 1e3:.1f} ms = {loop / ours:.1f}x")


def threads():
    f = za.LegendreExpansion(8, 1000, 1.0, np.random.default_rng(2).normal(size=9000))
    inputs = [np.random.default_rng(seed).uniform(0.0, 1.0, 2 * 10**6) for seed in (3, 4)]

    def one_thread():
        for times in inputs:
            f(times)

    def two_threads():
        workers = [threading.Thread(target=f, args=(times,)) for times in inputs]
        for w in workers:
            w.start()
        for w in workers:
            w.join()

    single, double = float("inf"), float("inf")
    for _ in range(5):
        single = min(single, best_of(one_thread, 2))
        double = min(double, best_of(two_threads, 2))
    # CPU time over wall time shows whether the threads ran at once, whatever else loads the machine.
    wall, cpu = time.perf_counter(), time.process_time()
    two_threads()
    overlap = (time.process_time() - cpu) / (time.perf_counter() - wall)
    print(f"two jobs of 2*10^6 evaluations (degree 8): one thread {single * 1e3:.0f} ms, two threads "
          f"{double * 1e3:.0f} ms = {single / double:.2f}x speed-up; CPU/wall with two threads {overlap:.2f} "
          f"(load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} CPUs)")


def main() -> int:
    matrices_and_points()
    evaluation()
    threads()
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
