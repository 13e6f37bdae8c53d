"""Cost growth in the degree and in the rule size, against baselines measured in the same run.

Operators: every pairing of the two spaces (trial, test) and the three
builders at degree d = 250 / 500 / 1,000 on one sub-interval, with the
exponent fitted to the times (time ~ d^p). Goal: every pairing at degree
1,000 under 0.5 s. Equidistant Lagrange entries grow like 2^d (against
Legendre) or 4^d (against Lagrange): where they leave the double range the
builder raises OverflowError, timed up to the error and marked. Then the
Lagrange spaces on the nodes of each rule (discontinuous; Lobatto also
continuous) against themselves and against Legendre, both ways round.

Quadrature: time_quadrature(n, 1) for each rule at n = 10^3 / 10^4 / 10^5,
the fitted exponent, and the ratio to scipy.special.roots_legendre(n) at the
same n, interleaved. Goals: a 10^4-point rule under 50 ms, and Gauss faster
than scipy at every n here.

Times are minima over interleaved rounds of the process's CPU time: every
call timed here runs on the calling thread (run with OPENBLAS_NUM_THREADS=1
so that scipy's does too), and a machine busy with other work inflates no
figure. The script reports; it never fails.
Options: --quick skips degree 1,000 and n = 10^5; --rounds sets the rounds; --degrees replaces
250 / 500 / 1,000; --only runs the pairings whose names contain the word (e.g. gauss).
"""

import argparse
import math
import time

import numpy as np
from scipy.special import roots_legendre

import zelk_arrays as za

SPACES = {"lagrange": za.LagrangeSpace, "legendre": za.LegendreSpace}
BUILDERS = {"mass": za.time_mass_matrix, "derivative": za.time_derivative_matrix, "jump": za.time_jump_matrix}
RULES = ("gauss", "radau-left", "radau-right", "lobatto")


def seconds(call):
    start = time.process_time()
    try:
        call()
    except OverflowError:
        # Equidistant Lagrange entries beyond the double range: timed up to the error, marked in the table.
        OVERFLOWS.add(call)
    return time.process_time() - start


OVERFLOWS = set()


def interleaved_minima(cases, rounds):
    best = dict.fromkeys(cases, math.inf)
    for _ in range(rounds):
        for name, call in cases.items():
            best[name] = min(best[name], seconds(call))
    return best


def exponent(sizes, times):
    """Least-squares slope of log(time) against log(size)."""
    return float(np.polyfit(np.log(sizes), np.log(times), 1)[0])


def family_spaces():
    """Lagrange spaces on each rule's nodes, with Legendre: (name, space of degree d) pairs of pairings."""
    spaces = {}
    for rule in RULES:
        spaces[rule] = lambda d, n_t, rule=rule: za.LagrangeSpace(d, n_t, nodes=rule, continuous=False)
    spaces["lobatto-c"] = lambda d, n_t: za.LagrangeSpace(d, n_t, nodes="lobatto")
    pairings = []
    for name, space in spaces.items():
        pairings += [((name, space), (name, space))]
        pairings += [((name, space), ("legendre", za.LegendreSpace)), (("legendre", za.LegendreSpace), (name, space))]
    return pairings


def degree_growth(degrees, rounds, only):
    print(f"operators on one sub-interval, seconds (minimum of {rounds}); goal: < 0.5 s at degree 1,000")
    print(f"{'builder':11}{'trial':10}{'test':10}" + "".join(f"{'d=' + str(d):>11}" for d in degrees) + "   exponent")
    default = [(pair, other) for pair in SPACES.items() for other in SPACES.items()]
    for kind, build in BUILDERS.items():
        for (trial_name, trial_space), (test_name, test_space) in default + family_spaces():
            if only and only not in trial_name + " " + test_name:
                continue
            cases = {}
            for d in degrees:
                trial, test = trial_space(d, 1), test_space(d, 1)
                cases[d] = lambda build=build, trial=trial, test=test: build(trial, test)
            best = interleaved_minima(cases, rounds)
            times = [best[d] for d in degrees]
            marks = ["*" if cases[d] in OVERFLOWS else " " for d in degrees]
            goal = "" if degrees[-1] != 1000 else ("  ok" if times[-1] < 0.5 else "  MISSED")
            if marks[-1] == "*":
                goal = "  no double holds the entries"
            print(
                f"{kind:11}{trial_name:10}{test_name:10}"
                + "".join(f"{t:10.4f}{m}" for t, m in zip(times, marks))
                + f"{exponent(degrees, times):11.2f}{goal}"
            )
    print("* OverflowError: entries beyond the double range (equidistant Lagrange nodes), timed up to the error")
    print("lobatto-c: continuous; the other rule spaces discontinuous")


def rule_growth(sizes, rounds):
    print(f"\nquadrature time_quadrature(n, 1), seconds (minimum of {rounds}) and ratio to roots_legendre(n);")
    print("roots_legendre costs O(n^2): above 10^4 points it runs once, interleaved with one Gauss rule")
    scipy_times = {}
    for n in sizes:
        once = 1 if n > 10**4 else rounds
        best = interleaved_minima(
            {"scipy": lambda n=n: roots_legendre(n), "gauss": lambda n=n: za.time_quadrature(n, 1, 1.0, "gauss")}, once
        )
        scipy_times[n] = best["scipy"]
    print(f"{'rule':13}" + "".join(f"{'n=' + str(n):>12}{'/scipy':>8}" for n in sizes) + "   exponent")
    for rule in RULES:
        best = interleaved_minima(
            {n: lambda n=n, rule=rule: za.time_quadrature(n, 1, 1.0, rule) for n in sizes}, rounds
        )
        times = [best[n] for n in sizes]
        ratios = [best[n] / scipy_times[n] for n in sizes]
        goals = []
        if 10**4 in sizes:
            goals.append("10^4 " + ("ok" if best[10**4] < 0.05 else "MISSED"))
        if rule == "gauss":
            goals.append("vs scipy " + ("ok" if max(ratios) < 1.0 else "MISSED"))
        print(
            f"{rule:13}"
            + "".join(f"{t:12.4f}{r:8.3f}" for t, r in zip(times, ratios))
            + f"{exponent(sizes, times):11.2f}   "
            + ", ".join(goals)
        )


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="skip degree 1,000 and n = 10^5")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--degrees", type=int, nargs="+")
    parser.add_argument("--only", default="")
    args = parser.parse_args()
    degrees = args.degrees or ((250, 500) if args.quick else (250, 500, 1000))
    degree_growth(tuple(degrees), args.rounds, args.only)
    if args.only or args.degrees:
        return
    rule_growth((10**3, 10**4) if args.quick else (10**3, 10**4, 10**5), args.rounds)


if __name__ == "__main__":
    main()
