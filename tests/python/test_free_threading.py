"""The free-threaded build: importing the module turns the GIL back on; with it kept off (PYTHON_GIL=0),
threads sharing instances, lists and the module functions see no crash and no torn result."""

import ast
import os
import subprocess
import sys
import sysconfig

import pytest

pytestmark = pytest.mark.skipif(
    not sysconfig.get_config_var("Py_GIL_DISABLED"), reason="only the free-threaded build (3.13t) runs without the GIL"
)


def run_python(code, *args, gil=None):
    env = {key: value for key, value in os.environ.items() if key != "PYTHON_GIL"}
    if gil is not None:
        env["PYTHON_GIL"] = gil
    return subprocess.run([sys.executable, "-c", code, *args], env=env, capture_output=True, text=True, timeout=600)


def test_import_enables_the_gil_with_a_warning():
    code = """if True:
        import sys, warnings
        before = sys._is_gil_enabled()
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            import zelk
        print((before, sys._is_gil_enabled(), [(w.category.__name__, str(w.message)) for w in caught]))
    """
    result = run_python(code)
    assert result.returncode == 0, result.stderr
    before, after, warnings = ast.literal_eval(result.stdout)
    assert (before, after) == (False, True)
    assert [category for category, _ in warnings] == ["RuntimeWarning"]
    assert "GIL" in warnings[0][1] and "'zelk'" in warnings[0][1]


# Each scenario runs a fixed number of calls in every thread, each result checked against one computed
# beforehand; a hold conflict (RuntimeError "Already borrowed" / "Already mutably borrowed") is the only
# error allowed, and the call is then tried again. The work is bounded by counts, not by the clock, so a
# loaded machine only makes it slower. A thread still behind after the generous join timeout is a hang.
STRESS = """if True:
    import sys, threading
    import zelk

    HOLD_CONFLICTS = {"Already borrowed", "Already mutably borrowed"}
    TIMES = [i / 20 for i in range(21)]
    CALLS = 200  # successful calls per thread
    # Conflicts are only possible while another thread is still at work, so retries end; this bounds them.
    ATTEMPTS = 1000 * CALLS
    errors, done = [], []

    def spawn(body, count):
        def loop():
            calls = attempts = 0
            try:
                while calls < CALLS and attempts < ATTEMPTS:
                    attempts += 1
                    try:
                        body()
                        calls += 1
                    except RuntimeError as error:
                        if str(error) not in HOLD_CONFLICTS:
                            raise
            except BaseException as error:
                errors.append(repr(error))
            done.append(calls)
        return [threading.Thread(target=loop, daemon=True) for _ in range(count)]

    def evaluator(dofs):
        result = zelk.LegendreBasisEvaluator(3, 5, 1.0)
        result.set_dofs(dofs)
        return result

    def check(value, allowed):
        if value not in allowed:
            raise AssertionError(f"{value!r} is none of {allowed!r}")

    if sys.argv[1] == "evaluators":
        dofs = ([1.5 * i - 7.0 for i in range(20)], [(-1.0) ** i / (i + 1) for i in range(20)])
        values = {t: {evaluator(d).evaluate_at(t) for d in dofs} for t in TIMES}
        slopes = {t: {evaluator(d).evaluate_derivative_at(t) for d in dofs} for t in TIMES}
        basis = zelk.LegendreBasis(3, 5, 1.0)
        rows = {t: basis.evaluate_all_basis_functions(t) for t in TIMES}
        shared = evaluator(dofs[0])

        def read():
            for t in TIMES:
                check(shared.evaluate_at(t), values[t])
                check(shared.evaluate_derivative_at(t), slopes[t])
                check(basis.evaluate_all_basis_functions(t), [rows[t]])

        def write():
            shared.set_dofs(dofs[0])
            shared.set_dofs(dofs[1])

        threads = spawn(read, 4) + spawn(write, 2)
    elif sys.argv[1] == "lists":
        # Degree 0: the value on sub-interval k is item k, so a reader sees which items it read.
        shared = [1.0] * 64

        def mutate():
            for flip in (1.0, 0.0):
                for k in range(len(shared)):
                    shared[k] = 1.0 + flip  # a new float each time; the old one may be freed at once

        def read():
            own = zelk.LegendreBasisEvaluator(0, 64, 1.0)
            own.set_dofs(shared)
            for k in range(0, 64, 7):
                check(own.evaluate_at((k + 0.5) / 64), {1.0, 2.0})
            check(zelk.LegendreBasis(0, 64, 1.0).evaluate_at(0.5, shared), {1.0, 2.0})

        threads = spawn(mutate, 2) + spawn(read, 4)
    else:
        calls = [
            (zelk.get_lagrange_points, (3, 50, 2.0)),
            (zelk.lagrange_prolongation_matrix, (4, 9, 2)),
            (zelk.lagrange_to_legendre_basis_transformation, (3, 4)),
            (zelk.sum_as_string, (2**63, 12345)),
        ]
        expected = [function(*args) for function, args in calls]

        def call():
            for (function, args), result in zip(calls, expected):
                check(function(*args), [result])

        threads = spawn(call, 6)
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=240)
        if thread.is_alive():
            errors.append("a thread did not finish its calls within 240 s")
            break
    print((getattr(sys, "_is_gil_enabled", lambda: True)(), errors, min(done, default=0), CALLS))
"""


@pytest.mark.parametrize("scenario", ["evaluators", "lists", "functions"])
def test_threads_without_the_gil(scenario):
    result = run_python(STRESS, scenario, gil="0")
    assert result.returncode == 0, f"exit {result.returncode}\n{result.stderr[-3000:]}"
    gil_enabled, errors, fewest_calls, calls = ast.literal_eval(result.stdout)
    assert not gil_enabled
    assert errors == []
    assert fewest_calls == calls  # every thread made all its calls
