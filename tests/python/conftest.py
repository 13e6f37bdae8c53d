import importlib.util
import sys
from pathlib import Path

import pytest

import zelk

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


@pytest.fixture(scope="session")
def panic_type():
    """The PanicException type, which the module does not export: caught from a fault."""
    try:
        zelk.get_lagrange_points(2**62, 1, 1.0)
    except BaseException as error:  # noqa: BLE001 - the point is to catch it
        return type(error)
    pytest.fail("a capacity overflow did not raise")


def _example(file_name, module_name):
    """An example script imported as a module, registered while in use (dataclasses look their module up)."""
    found = importlib.util.spec_from_file_location(module_name, EXAMPLES / file_name)
    module = importlib.util.module_from_spec(found)
    sys.modules[found.name] = module
    try:
        found.loader.exec_module(module)
        yield module
    finally:
        del sys.modules[found.name]


@pytest.fixture(scope="module")
def demo():
    yield from _example("demo.py", "zelk_demo")


@pytest.fixture(scope="module")
def heat():
    yield from _example("space_time_heat.py", "zelk_space_time_heat")


@pytest.fixture(scope="module")
def sdc():
    yield from _example("collocation_sdc.py", "zelk_collocation_sdc")


@pytest.fixture(scope="module")
def stepping():
    yield from _example("time_stepping.py", "zelk_time_stepping")
