"""The space-time heat example: its convergence orders and its multigrid factors, which `make test` relies on."""

import pytest


@pytest.fixture(scope="module")
def problem(heat):
    return heat.heat_problem()


# The theory, stated here rather than read from the example: (ends, L2(0, T)).
@pytest.mark.parametrize(
    "continuous, degree, orders",
    [
        (True, 1, (2, 2)),
        (True, 2, (4, 3)),
        (True, 3, (6, 4)),
        (False, 0, (1, 1)),
        (False, 1, (3, 2)),
        (False, 2, (5, 3)),
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


def test_reference_solves_the_semi_discrete_system(heat, problem):
    # u(0) = u0 and u' + A u = b g(t), the derivative by a fourth-order central difference.
    assert abs(problem.exact(heat.np.array([0.0]))[0] - problem.u0).max() < 1e-14
    times, step = heat.np.array([0.1, 0.55, 0.9]), 1e-3
    u = [problem.exact(times + j * step) for j in (-2, -1, 1, 2)]
    derivative = (u[0] - 8.0 * u[1] + 8.0 * u[2] - u[3]) / (12.0 * step)
    residual = derivative + problem.exact(times) @ problem.laplacian.T - heat.np.outer(heat.g(times), problem.source)
    assert abs(residual).max() < 1e-9


def test_factor_check_flags_large_growing_and_failed_runs(heat):
    def run(n_t, factor, cycles=10):
        return heat.MultigridRun(n_t, [factor**i for i in range(cycles + 1)])

    method = heat.Method(False, 1)
    assert heat.factor_failures(method, [run(16, 0.3), run(1024, 0.33)]) == []
    grown = heat.factor_failures(method, [run(16, 0.2), run(1024, 0.4)])
    assert len(grown) == 1 and "grows" in grown[0]
    too_large = heat.factor_failures(method, [run(16, 0.6), run(1024, 0.6)])
    assert [f.split("n_t = ")[1].split()[0] for f in too_large] == ["16", "1024"]
    # A cycle that ended in nan fails too.
    diverged = heat.factor_failures(method, [run(16, 0.3), heat.MultigridRun(64, [1.0, float("nan")])])
    assert len(diverged) == 1 and "nan at n_t = 64" in diverged[0]
