import pytest

import zelk


@pytest.fixture(scope="session")
def panic_type():
    """The PanicException type, which the module does not export: caught from a fault."""
    try:
        zelk.get_lagrange_points(2**62, 1, 1.0)
    except BaseException as error:  # noqa: BLE001 - the point is to catch it
        return type(error)
    pytest.fail("a capacity overflow did not raise")
