"""Large matrix and point-list results, against a floor measured in the same run.

The floor produces the same number of Python ints and floats with numpy's
ndarray.tolist() on arrays of the same lengths (uint64 rows and columns,
float64 values). Targets: at most 1.5x the floor's time, and a peak memory no
larger than the floor's, which is the returned lists plus one copy of the
arrays. Every measurement runs in a fresh process; peak memory is ru_maxrss
above the process's level before the call. The script reports and exits 0;
with --check a missed goal makes the exit status 1.
"""

import argparse
import json
import subprocess
import sys

CASES = {
    "lagrange_prolongation_matrix(1000, 10**6, 3)": "zelk.lagrange_prolongation_matrix(1000, 10**6, 3)",
    "lagrange_to_legendre_basis_transformation(3, 10**6)": "zelk.lagrange_to_legendre_basis_transformation(3, 10**6)",
    "get_lagrange_points(1, 10**7, 1.0)": "zelk.get_lagrange_points(1, 10**7, 1.0)",
}

RUN = r"""
import json, resource, sys, time
import numpy as np
import zelk

def maxrss():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024

mode, expression, n, triplets = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4] == "1"
if mode == "floor":
    arrays = [np.arange(n, dtype=np.uint64), np.arange(n, dtype=np.uint64)] if triplets else []
    arrays.append(np.random.random(n))
start = maxrss()
t0 = time.perf_counter()
if mode == "ours":
    result = eval(expression)
    n = len(result[-1]) if isinstance(result, tuple) else len(result)
else:
    result = [a.tolist() for a in arrays]
seconds = time.perf_counter() - t0
peak = maxrss() - start + (sum(a.nbytes for a in arrays) if mode == "floor" else 0)
print(json.dumps({"seconds": seconds, "peak": peak, "n": n}))
"""


def measure(mode, expression, n=0, triplets=False):
    out = subprocess.run(
        [sys.executable, "-c", RUN, mode, expression, str(n), "1" if triplets else "0"],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    return json.loads(out)


def main(check: bool) -> int:
    failures = 0
    for label, expression in CASES.items():
        triplets = "points" not in label
        ours = [measure("ours", expression) for _ in range(3)]
        n = ours[0]["n"]
        floor = [measure("floor", "", n, triplets) for _ in range(3)]
        seconds = min(r["seconds"] for r in ours)
        floor_seconds = min(r["seconds"] for r in floor)
        peak = min(r["peak"] for r in ours)
        floor_peak = min(r["peak"] for r in floor)
        ratio = seconds / floor_seconds
        ok = ratio <= 1.5 and peak <= floor_peak * 1.02
        failures += not ok
        print(
            f"{label}: {n} entries in {seconds:.3f} s = {ratio:.2f}x the tolist floor ({floor_seconds:.3f} s); "
            f"peak {peak / 2**20:.0f} MiB vs {floor_peak / 2**20:.0f} MiB for lists + arrays "
            f"[goals <= 1.5x, peak <= lists + arrays: {'ok' if ok else 'MISSED'}]"
        )
    if failures:
        print(f"{failures} case(s) missed a goal" + ("" if check else " (reported only; --check makes this fail)"))
    return 1 if check and failures else 0


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="exit with status 1 when a goal is missed")
    raise SystemExit(main(parser.parse_args().check))
