"""get_lagrange_points: exact points, degenerate grids and impossible sizes."""

import math
import struct

import pytest

import zelk


def bits(values):
    return [struct.pack("<d", v) for v in values]


@pytest.mark.parametrize(
    "args, expected",
    [
        ((2, 2, 1.0), [0.0, 0.25, 0.5, 0.75, 1.0]),
        (
            (1, 10, 1.0),
            [0.0, 0.1, 0.2, 0.30000000000000004, 0.4, 0.5, 0.6000000000000001, 0.7000000000000001, 0.8, 0.9, 1.0],
        ),
        ((2, 3, 1.0), [0.0, 0.16666666666666666, 0.3333333333333333, 0.5, 0.6666666666666666, 0.8333333333333333, 1.0]),
        ((3, 1, 2.0), [0.0, 0.6666666666666666, 1.3333333333333333, 2.0]),
        ((2, 2, -1.0), [-0.0, -0.25, -0.5, -0.75, -1.0]),
        ((0, 7, 1.5), [1.5]),
        ((4, 0, 3.0), [3.0]),
        ((2, 2, 0.0), [0.0] * 5),
        ((0, 2**64 - 1, 1.5), [1.5]),  # degree 0 does not walk the sub-intervals
    ],
)
def test_points_bit_for_bit(args, expected):
    assert bits(zelk.get_lagrange_points(*args)) == bits(expected)


def test_final_point_is_T_itself():
    T = 0.7
    for n_t in range(1, 40):
        for degree in (1, 2, 3, 5):
            got = zelk.get_lagrange_points(degree, n_t, T)
            assert len(got) == n_t * degree + 1
            assert got[-1] == T
            assert got == sorted(got)


def test_non_finite_T():
    got = zelk.get_lagrange_points(1, 2, math.inf)
    assert got[-1] == math.inf and math.isnan(got[1])


def test_capacity_overflow_and_memory_error(panic_type):
    with pytest.raises(panic_type, match="^capacity overflow$"):
        zelk.get_lagrange_points(2**62, 1, 1.0)
    with pytest.raises(panic_type, match="^capacity overflow$"):
        zelk.get_lagrange_points(2**63, 2, 1.0)  # n_t * degree + 1 overflows 64 bits
    with pytest.raises(MemoryError):
        zelk.get_lagrange_points(10**6, 10**7, 1.0)
    assert zelk.get_lagrange_points(1, 1, 1.0) == [0.0, 1.0]  # the interpreter stays healthy


def machine_memory():
    with open("/proc/meminfo") as meminfo:
        fields = dict(line.split(":", 1) for line in meminfo)
    return sum(int(fields[key].split()[0]) * 1024 for key in ("MemTotal", "SwapTotal"))


def test_result_that_cannot_fit_fails_before_any_work():
    # The points alone would fit (8 bytes each) but not with the list of floats made from them.
    n = machine_memory() // 20
    with pytest.raises(MemoryError):
        zelk.get_lagrange_points(1, n, 1.0)
    with pytest.raises(MemoryError):
        zelk.LegendreBasis(0, n, 1.0).evaluate_all_basis_functions(0.5)
