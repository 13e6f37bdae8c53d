"""preallocation's count-only pass of the time operators against building the piece, n_t = 10^6, degree 3.

For dG(3) (Legendre, both layouts) and cG(3) (continuous Lagrange), and on
a graded grid (t_k = (k / n_t)^3) cG(3) on Lobatto nodes and dG(3) on Gauss
nodes (the general builder, whose mass rows follow the steps), and each
of the mass, derivative and jump matrices: ``za.preallocation(builder,
space, space, columns=...)`` for all rows and a column block of half the
columns, against ``builder(space, space)`` and against building it and
counting its pattern (what preallocation did before it had the pass).
Every measurement runs in a fresh process, the routes interleaved round by
round; minima of the call's CPU time (system time included) and of its
peak memory (the high-water mark of resident memory, reset before the
call, above the level before it; Linux's /proc) are
printed with their ratios. It reports and never fails.
"""

import json
import subprocess
import sys

ROUNDS = 3

RUN = r"""
import json, sys, time
import numpy as np
import zelk_arrays as za
from zelk_arrays._preallocation import built_counts

route, space_code, builder_name, n_t = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
graded = lambda n: za.TimeGrid(np.linspace(0.0, 1.0, n + 1) ** 3)
make = {
    "dG(3) polynomial-major": lambda n: za.LegendreSpace(3, n),
    "dG(3) interval-major": lambda n: za.LegendreSpace(3, n, layout="interval-major"),
    "cG(3)": lambda n: za.LagrangeSpace(3, n),
    "cG(3) Lobatto, graded": lambda n: za.LagrangeSpace(3, graded(n), nodes="lobatto"),
    "dG(3) Gauss, graded": lambda n: za.LagrangeSpace(3, graded(n), nodes="gauss"),
}[space_code]
builder = getattr(za, builder_name)
routes = {
    "count-only": lambda s: za.preallocation(builder, s, s, columns=(0, s.dim // 2)),
    "build": lambda s: builder(s, s),
    "build and count": lambda s: built_counts(builder(s, s), (0, s.dim // 2)),
}
routes[route](make(4))  # the imports (scipy's too) and first calls, outside the measurement
space = make(n_t)
def status(field):
    with open("/proc/self/status") as lines:
        return next(int(line.split()[1]) * 1024 for line in lines if line.startswith(field + ":"))

# The high-water mark reset (Linux), so that the grid's making leaves no peak above the call's.
with open("/proc/self/clear_refs", "w") as clear:
    clear.write("5")
start = status("VmRSS")
t0 = time.process_time()
result = routes[route](space)
seconds = time.process_time() - t0
peak = status("VmHWM") - start
print(json.dumps({"seconds": seconds, "peak": peak}))
"""

SPACES = ["dG(3) polynomial-major", "dG(3) interval-major", "cG(3)", "cG(3) Lobatto, graded", "dG(3) Gauss, graded"]
BUILDERS = ["time_mass_matrix", "time_derivative_matrix", "time_jump_matrix"]
ROUTES = ["count-only", "build", "build and count"]


def measure(route, space, builder, n_t):
    out = subprocess.run(
        [sys.executable, "-c", RUN, route, space, builder, str(n_t)], check=True, capture_output=True, text=True
    ).stdout
    return json.loads(out)


def main():
    n_t = 10_000 if "--quick" in sys.argv else 1_000_000
    print(f"n_t = {n_t}, all rows, a column block of half the columns; minima of {ROUNDS} fresh processes")
    for space in SPACES:
        for builder in BUILDERS:
            best = {route: {"seconds": float("inf"), "peak": float("inf")} for route in ROUTES}
            for _ in range(ROUNDS):
                for route in ROUTES:
                    result = measure(route, space, builder, n_t)
                    for key in ("seconds", "peak"):
                        best[route][key] = min(best[route][key], result[key])
            count, build, both = (best[route] for route in ROUTES)
            print(
                f"{space:22s} {builder:22s} count-only {count['seconds'] * 1e3:7.1f} ms "
                f"{count['peak'] / 2**20:6.1f} MiB | build {build['seconds'] * 1e3:7.1f} ms "
                f"{build['peak'] / 2**20:6.1f} MiB | build and count {both['seconds'] * 1e3:7.1f} ms "
                f"{both['peak'] / 2**20:6.1f} MiB | build / count-only: "
                f"time {build['seconds'] / max(count['seconds'], 1e-9):5.1f} x, "
                f"memory {build['peak'] / max(count['peak'], 1):5.1f} x"
            )


if __name__ == "__main__":
    main()
