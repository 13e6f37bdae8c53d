import os
import pathlib
import subprocess
import sys

import pytest

pytest.importorskip("numpy")
from zelk_arrays import _native

ACTIVE, SUPPORTED = _native.vector_levels()
# The tests that compare results bit for bit; each run again with every vector level forced.
EXACT_BIT_TESTS = [
    "test_legendre.py",
    "test_points.py",
    "test_matrices.py",
    "test_arrays.py",
    "test_time_operators.py",
    "test_time_operator_exactness.py",
]


def forced_level(value, check=True):
    code = "from zelk_arrays import _native; print(_native.vector_levels()[0])"
    env = dict(os.environ, ZELK_DISPATCH=value)
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=check)


def test_best_level_by_default_and_any_supported_one_on_request():
    if os.environ.get("ZELK_DISPATCH", "") == "":
        assert ACTIVE == SUPPORTED[-1]
    assert forced_level("").stdout.strip() == SUPPORTED[-1]
    assert [forced_level(level).stdout.strip() for level in SUPPORTED] == SUPPORTED


@pytest.mark.parametrize("value", ["no-such-level", "AVX2", "avx2 ", "avx1024"])
def test_a_level_this_cpu_lacks_stops_the_import(value):
    failed = forced_level(value, check=False)
    assert failed.returncode != 0 and failed.stdout == ""
    levels = ", ".join(SUPPORTED)
    assert f"ImportError: ZELK_DISPATCH='{value}' is not a vector level of this CPU; it has: {levels}" in failed.stderr


def test_zelk_keeps_falling_back_to_the_best_level():
    code = "import zelk; print(zelk.get_lagrange_points(1, 2, 1.0))"
    env = dict(os.environ, ZELK_DISPATCH="no-such-level")
    run = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True)
    assert (run.returncode, run.stdout) == (0, "[0.0, 0.5, 1.0]\n")


@pytest.mark.parametrize("level", [level for level in SUPPORTED if level != ACTIVE])
def test_exact_bits_at_every_vector_level(level):
    env = dict(os.environ, ZELK_DISPATCH=level)
    run = subprocess.run(
        [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", *EXACT_BIT_TESTS],
        cwd=pathlib.Path(__file__).parent,
        env=env,
        capture_output=True,
        text=True,
    )
    assert run.returncode == 0, run.stdout[-4000:]
