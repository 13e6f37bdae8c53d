"""Calls that re-enter the module from argument conversions until the recursion limit: an exception, never an abort.

Each case runs in a fresh interpreter, because what is at stake is the first
error of the process: the PanicException type must not be made for the first
time at the recursion limit, where making it fails.
"""

import subprocess
import sys
import textwrap

import pytest

RECURSE_IN_FLOAT = """
    import zelk
    b = zelk.LegendreBasis(1, 1, 1.0)
    class F:
        def __float__(self):
            return {inner}
    try:
        {outer}
    except {expected} as error:
        print("raised", type(error).__name__)
"""


def run_fresh(code):
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr[-2000:]
    return done.stdout


@pytest.mark.parametrize(
    "inner, outer",
    [
        ("b.evaluate_at(0.5, [F(), 1.0])", "b.evaluate_at(0.5, [F(), 1.0])"),
        ("b.evaluate_all_basis_functions(F())[0]", "b.evaluate_all_basis_functions(F())"),
        ("zelk.get_lagrange_points(1, 1, F())[0]", "zelk.get_lagrange_points(1, 1, F())"),
    ],
    ids=["evaluate_at", "evaluate_all", "get_lagrange_points"],
)
def test_recursion_through_conversions_raises_recursion_error(inner, outer):
    code = RECURSE_IN_FLOAT.format(inner=inner, outer=outer, expected="RecursionError")
    assert run_fresh(code) == "raised RecursionError\n"


def test_first_fault_of_the_process_near_the_recursion_limit_is_raised():
    # Approaches the limit from above: the first depth that reaches the
    # module faults there, as deep as a call can get.
    out = run_fresh("""
        import sys, zelk
        def deep(n):
            if n == 0:
                return zelk.LegendreBasis(1, 1, 1.0).evaluate_at(0.5, [])
            return deep(n - 1)
        for k in range(1, 100):
            try:
                deep(sys.getrecursionlimit() - k)
            except RecursionError:
                continue
            except BaseException as error:
                print(type(error).__name__, str(error))
                break
    """)
    assert out == "PanicException Matrix view: input data buffer too small.\n"
