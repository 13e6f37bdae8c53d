import os
import pathlib
import subprocess
import sys

import pytest

pytest.importorskip("numpy")
from zelk_arrays import _native  # noqa: E402

ACTIVE, SUPPORTED = _native.vector_levels()
# The tests that compare results bit for bit; each run again with every vector level forced.
EXACT_BIT_TESTS = ["test_legendre.py", "test_points.py", "test_matrices.py", "test_arrays.py"]


def forced_level(value):
    code = "from zelk_arrays import _native; print(_native.vector_levels()[0])"
    env = dict(os.environ, ZELK_DISPATCH=value)
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True).stdout


def test_best_level_by_default_and_any_supported_one_on_request():
    if "ZELK_DISPATCH" not in os.environ:
        assert ACTIVE == SUPPORTED[-1]
    assert forced_level("no-such-level").strip() == SUPPORTED[-1]
    assert [forced_level(level).strip() for level in SUPPORTED] == SUPPORTED


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
