"""LegendreExpansion with trailing coefficient axes: one expansion per column, each bit-identical to its own 1-D one."""

import math

import numpy as np
import pytest

import zelk_arrays as za


def bits(values):
    """The bits of every value; any NaN as one NaN, since its sign and payload are not promised."""
    values = np.asarray(values, dtype=np.float64)
    return np.where(np.isnan(values), np.nan, values).view(np.uint64)


@pytest.mark.parametrize(("degree", "trailing"), [(0, (3,)), (2, (2, 3)), (5, (1,)), (3, (0,))])
def test_every_column_is_its_own_expansion(degree, trailing):
    rng = np.random.default_rng(degree)
    n_t, T = 4, 1.7
    coefficients = rng.standard_normal((n_t * (degree + 1), *trailing))
    coefficients.flat[::7] = -0.0
    times = np.concatenate([rng.uniform(-0.2, 1.9, 17), [0.0, T, T / n_t, -math.inf, math.nan]]).reshape(2, 11)
    f = za.LegendreExpansion(degree, n_t, T, coefficients)
    columns = coefficients.reshape(len(coefficients), -1)
    for method in ("__call__", "derivative"):
        got = getattr(f, method)(times)
        assert got.shape == times.shape + trailing
        got = got.reshape(times.shape + (-1,))
        for c in range(columns.shape[1]):
            one = getattr(za.LegendreExpansion(degree, n_t, T, columns[:, c]), method)(times)
            assert bits(got[..., c]).tolist() == bits(one).tolist(), (method, c)
    assert f(0.5).shape == trailing


@pytest.mark.parametrize("trailing", [(), (2,)])
def test_masked_times_give_a_masked_result(trailing):
    f = za.LegendreExpansion(1, 1, 1.0, np.ones((2, *trailing)))
    times = np.ma.masked_array([[0.25, 0.75]], mask=[[0, 1]])
    got = f(times)
    assert isinstance(got, np.ma.MaskedArray) and got.shape == (1, 2, *trailing)
    assert (
        got.mask.tolist()
        == np.broadcast_to(np.array([[0, 1]], bool).reshape((1, 2) + (1,) * len(trailing)), got.shape).tolist()
    )
    assert got.data[0, 0].tolist() == f(0.25).tolist()
