"""Legendre evaluation speed, as ratios against baselines measured in the same run.

Targets: LegendreBasisEvaluator.evaluate_at(t) at most 1.5x a math.fabs(t) call
(degree <= 3) and at least 30x faster than numpy's legval on the same
sub-interval's coefficients; LegendreBasis.evaluate_at with 10^4 floats at most
1.5x building array.array('d', ...) from the same list.
"""
import array
import math
import random
import timeit

import numpy as np
from numpy.polynomial import legendre as npleg

import zelk


def best(stmt, number, repeat=7, **names):
    return min(timeit.repeat(stmt, number=number, repeat=repeat, globals=names)) / number


def main() -> int:
    failures = 0
    t = 0.3141
    fabs = best("fabs(t)", 200_000, fabs=math.fabs, t=t)
    print(f"baseline math.fabs(t): {fabs * 1e9:.1f} ns")
    for degree in (0, 1, 2, 3, 8):
        n_t = 16
        evaluator = zelk.LegendreBasisEvaluator(degree, n_t, 1.0)
        coefficients = [random.random() for _ in range(n_t * (degree + 1))]
        evaluator.set_dofs(coefficients)
        value = best("f(t)", 200_000, f=evaluator.evaluate_at, t=t)
        derivative = best("f(t)", 200_000, f=evaluator.evaluate_derivative_at, t=t)
        k = int(t * n_t)
        local = np.array(coefficients[k::n_t])
        legval = best("legval(x, c)", 20_000, legval=npleg.legval, x=0.0256, c=local)
        ratio, speedup = value / fabs, legval / value
        verdict = "" if degree > 3 else (" ok" if ratio <= 1.5 and speedup >= 30 else " MISSED")
        failures += verdict == " MISSED"
        print(f"degree {degree}: evaluate_at {value * 1e9:.1f} ns = {ratio:.2f}x fabs, "
              f"{speedup:.0f}x faster than legval; evaluate_derivative_at {derivative * 1e9:.1f} ns "
              f"= {derivative / fabs:.2f}x fabs{verdict}")

    values = [random.random() for _ in range(10_000)]
    basis = zelk.LegendreBasis(3, 2500, 1.0)
    ours = best("f(t, v)", 200, f=basis.evaluate_at, t=t, v=values)
    baseline = best("a('d', v)", 200, a=array.array, v=values)
    ratio = ours / baseline
    verdict = " ok" if ratio <= 1.5 else " MISSED"
    failures += verdict == " MISSED"
    print(f"LegendreBasis.evaluate_at, 10^4 floats: {ours * 1e6:.1f} us = {ratio:.2f}x array.array "
          f"({baseline * 1e6:.1f} us){verdict}")
    return failures


if __name__ == "__main__":
    raise SystemExit(1 if main() else 0)
