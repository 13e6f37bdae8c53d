"""The space-time heat example: its convergence orders and its multigrid factors, which `make test` relies on."""
import pytest


@pytest.fixture(scope="module")
def problem(heat):
    return heat.heat_problem()


# The theory, stated here rather than read from the example: (ends, L2(0, T)).
@pytest.mark.parametrize(
    "continuous, degree, orders",
    [
        (True, 1, (2, 2)), (True, 2, (4, 3)), (True, 3, (6, 4)),
        (False, 0, (1, 1)), (False, 1, (3, 2)), (False, 2, (5, 3)),
    ],
)
def test_orders_match_the_theory(heat, problem, continuous, degree, orders):
    method = heat.Method(continuous, degree)
    rows = [heat.measure(method, problem, n_t) for n_t in heat.table_grids(method, quick=True)]
    n_ts = [row.n_t for row in rows]
    for errors, expected in zip(([r.end_error for r in rows], [r.global_error for r in rows]), orders):
        assert heat.observed_orders(n_ts, errors) == pytest.approx([expected] * (len(rows) - 1), abs=0.15)
    assert heat.order_failures(method, rows) == []
    # One order more than the truth is rejected on every row.
    wrong = heat.Method(continuous, degree + 1)
    assert len(heat.order_failures(wrong, rows)) == 2 * (len(rows) - 1)


@pytest.mark.parametrize("continuous, degree", [(True, 2), (False, 1)])
def test_multigrid_factor_is_small_and_does_not_grow(heat, problem, continuous, degree):
    method = heat.Method(continuous, degree)
    runs = [heat.multigrid(method, problem, n_t) for n_t in (16, 128)]
    factors = [run.factor for run in runs]
    assert all(0.0 < factor <= 0.5 for factor in factors), factors
    assert factors[1] <= factors[0] + 0.05, factors
