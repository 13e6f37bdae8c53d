"""Legendre evaluation speed, against baselines measured in the same run.

Goals (degree <= 3; printed beside each figure, checked only with --check):
- LegendreBasisEvaluator.evaluate_at(t) and evaluate_derivative_at(t) at most
  1.15x their floor: a math.fabs(t) call (the cost of any one-float call from
  Python) plus the core's own latency for that evaluation, timed in C++ by
  zelk_core_timing (benchmarks/core_timing.cpp) in the same run;
- LegendreBasis.evaluate_at with 10^4 floats (any degree) at most 1.5x
  building array.array('d', ...) from the same list.

evaluate_at is also compared with numpy's legval on the same sub-interval's
coefficients, without a goal: the earlier "30x faster than legval" asked for
less than the floor at degrees 0 to 2, where legval itself takes under 1.3 us.

The floor is a yardstick, not a hard bound: in a Python loop the processor
overlaps the core's dependent divisions with the interpreter's own work, so a
call can come in below it. All timings are minima over interleaved rounds.
Without --check the script reports and exits 0; with --check a missed goal
makes the exit status 1.
The core timing program is taken from $ZELK_CORE_TIMING (make bench builds it).
"""

import argparse
import array
import json
import math
import os
import random
import subprocess
import timeit

import numpy as np
from numpy.polynomial import legendre as npleg

import zelk

DEGREES = (0, 1, 2, 3, 8)
GOAL_DEGREE = 3
FLOOR_GOAL = 1.15
CONVERSION_GOAL = 1.5
# Many short batches, taken in turn: the minimum is a batch that no other process interrupted.
ROUNDS = 300


def interleaved_minima(cases, rounds=ROUNDS):
    """Seconds per call of each case {name: (stmt, number, globals)}, minimum over rounds run in turn."""
    best = dict.fromkeys(cases, math.inf)
    for _ in range(rounds):
        for name, (stmt, number, names) in cases.items():
            best[name] = min(best[name], timeit.timeit(stmt, number=number, globals=names) / number)
    return best


def core_latencies():
    """{degree: {"evaluate_ns": .., "evaluate_derivative_ns": ..}} from the C++ timing, or {} without it."""
    program = os.environ.get("ZELK_CORE_TIMING", "")
    if not os.access(program, os.X_OK):
        print("core timing not available (set ZELK_CORE_TIMING, or run make bench): no floor-based goals")
        return {}
    out = subprocess.run([program, *map(str, DEGREES)], check=True, capture_output=True, text=True).stdout
    return {r["degree"]: r for r in map(json.loads, out.splitlines())}


class Report:
    def __init__(self):
        self.missed = []

    def goal(self, label, ok):
        """' [goal ...: ok]' or ' [goal ...: MISSED]', remembering misses."""
        if not ok:
            self.missed.append(label)
        return f" [goal {label}: {'ok' if ok else 'MISSED'}]"


def main(check: bool) -> int:
    report = Report()
    t = 0.3141
    core = core_latencies()
    evaluator_cases = {"fabs": ("f(t)", 2_000, {"f": math.fabs, "t": t})}
    for degree in DEGREES:
        n_t = 16
        evaluator = zelk.LegendreBasisEvaluator(degree, n_t, 1.0)
        coefficients = [random.random() for _ in range(n_t * (degree + 1))]
        evaluator.set_dofs(coefficients)
        evaluator_cases[f"value {degree}"] = ("f(t)", 2_000, {"f": evaluator.evaluate_at, "t": t})
        evaluator_cases[f"derivative {degree}"] = ("f(t)", 2_000, {"f": evaluator.evaluate_derivative_at, "t": t})
        local = np.array(coefficients[int(t * n_t) :: n_t])
        evaluator_cases[f"legval {degree}"] = ("f(x, c)", 200, {"f": npleg.legval, "x": 0.0256, "c": local})
    seconds = interleaved_minima(evaluator_cases)

    fabs_ns = seconds["fabs"] * 1e9
    print(f"baseline math.fabs(t): {fabs_ns:.1f} ns")
    for degree in DEGREES:
        goals = degree <= GOAL_DEGREE
        line = [f"degree {degree}:"]
        for kind, core_key in (("value", "evaluate_ns"), ("derivative", "evaluate_derivative_ns")):
            ns = seconds[f"{kind} {degree}"] * 1e9
            name = "evaluate_at" if kind == "value" else "evaluate_derivative_at"
            text = f"{name} {ns:.1f} ns = {ns / fabs_ns:.2f}x fabs"
            if degree in core:
                floor = fabs_ns + core[degree][core_key]
                text += f", {ns / floor:.2f}x the floor {floor:.1f} ns (fabs + core {core[degree][core_key]:.1f} ns)"
                if goals:
                    text += report.goal(f"<= {FLOOR_GOAL}x floor", ns / floor <= FLOOR_GOAL)
            if kind == "value":
                speedup = seconds[f"legval {degree}"] * 1e9 / ns
                text += f"; {speedup:.0f}x faster than legval [no goal]"
            line.append(text)
        print(f"{line[0]} {line[1]}\n{'':10}{line[2]}")

    # Coefficients passed with every call: a short list (converted on the stack) and a long one.
    short = [random.random() for _ in range(16)]
    values = [random.random() for _ in range(10_000)]
    short_basis, long_basis = zelk.LegendreBasis(3, 4, 1.0), zelk.LegendreBasis(3, 2500, 1.0)
    conversion = interleaved_minima(
        {
            "short": ("f(t, v)", 2_000, {"f": short_basis.evaluate_at, "t": t, "v": short}),
            "short array": ("a('d', v)", 2_000, {"a": array.array, "v": short}),
            "long": ("f(t, v)", 10, {"f": long_basis.evaluate_at, "t": t, "v": values}),
            "long array": ("a('d', v)", 10, {"a": array.array, "v": values}),
        },
        rounds=100,
    )
    print(
        f"LegendreBasis.evaluate_at, 16 floats: {conversion['short'] * 1e9:.1f} ns "
        f"= {conversion['short'] / conversion['short array']:.2f}x array.array "
        f"({conversion['short array'] * 1e9:.1f} ns) [no goal]"
    )
    ratio = conversion["long"] / conversion["long array"]
    print(
        f"LegendreBasis.evaluate_at, 10^4 floats: {conversion['long'] * 1e6:.1f} us = {ratio:.2f}x array.array "
        f"({conversion['long array'] * 1e6:.1f} us)" + report.goal(f"<= {CONVERSION_GOAL}x", ratio <= CONVERSION_GOAL)
    )

    if report.missed:
        print(f"{len(report.missed)} goal(s) missed" + ("" if check else " (reported only; --check makes this fail)"))
    return 1 if check and report.missed else 0


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="exit with status 1 when a goal is missed")
    raise SystemExit(main(parser.parse_args().check))
