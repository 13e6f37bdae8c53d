"""The collocation example: its printed orders and sweep convergence, which `make test` relies on."""

import re

import numpy as np
import pytest


def test_quick_run_prints_orders_2m_minus_1_and_converged_sweeps(sdc, capsys):
    assert sdc.main(["--quick"]) == 0
    out = capsys.readouterr().out
    blocks = re.findall(r"^M = (\d+): expected order (\d+).*?\n((?:.*\n)+?)\n", out, re.MULTILINE)
    assert [int(m) for m, _, _ in blocks] == [1, 2, 3]
    for m, stated, table in blocks:
        assert int(stated) == 2 * int(m) - 1
        rows = [line.split() for line in table.splitlines()[1:]]
        assert len(rows) == 3
        # n_t, max error, order, error at T, order; the first row has no orders.
        orders = [float(row[i]) for row in rows[1:] for i in (2, 4)]
        assert orders == pytest.approx([2 * int(m) - 1] * 4, abs=0.2), (m, orders)
    needed = re.findall(r"^  (lu|implicit-euler): below 1e-12 after (\d+) sweeps$", out, re.MULTILINE)
    assert [kind for kind, _ in needed] == ["lu", "implicit-euler"] * 2
    # On the stiff system the lu sweeps need fewer than implicit Euler's.
    assert int(needed[2][1]) < int(needed[3][1]) <= 30
    assert "not converged" not in out


def test_sweeps_reach_the_collocation_solution_geometrically(sdc):
    rows = sdc.sweep_study(sdc.heat_system(1.0))
    lu = [row.differences[0] for row in rows]
    residuals = [row.residuals[0] for row in rows]
    # Each sweep gains at least a factor 4 until round-off.
    above = [d for d in lu if d > 1e-14]
    assert all(b < a / 4 for a, b in zip(above, above[1:])), lu
    assert min(lu) < 1e-14 and min(residuals) < 1e-14
    assert sdc.sweep_failures(rows) == []


def test_one_node_lu_sweep_is_the_implicit_euler_step(sdc):
    # With M = 1 the lu Q_delta is Q itself: one sweep solves the collocation system.
    system = sdc.heat_system()
    grid = sdc.graded_grid(4)
    values, residual = sdc.Sweeper(system, grid, 1, "lu").solve(1)
    u = system.u0
    for h in grid.steps:
        u = np.linalg.solve(np.eye(u.size) - h * system.matrix.toarray(), u)
    np.testing.assert_allclose(values[-1], u, rtol=0, atol=1e-15)
    assert residual < 1e-15


def test_exact_solution_solves_the_system(sdc):
    system = sdc.heat_system()
    assert abs(system.exact(np.array([0.0]))[0] - system.u0).max() < 1e-14
    times, step = np.array([0.05, 0.5, 0.9]), 1e-3
    u = [system.exact(times + j * step) for j in (-2, -1, 1, 2)]
    derivative = (u[0] - 8.0 * u[1] + 8.0 * u[2] - u[3]) / (12.0 * step)
    assert abs(derivative - system.exact(times) @ system.matrix.T).max() < 1e-9


def test_checks_flag_wrong_orders_and_unconverged_sweeps(sdc):
    rows = [sdc.Row(n, 2.0 * n**-3.0, n**-3.0) for n in (8, 16, 32)]
    assert sdc.order_failures(2, rows) == []
    assert len(sdc.order_failures(3, rows)) == 4
    stalled = [sdc.Row(8, 1e-3, 1e-3), sdc.Row(16, 0.0, 1e-4)]
    assert [f.split(":")[1].split()[0] for f in sdc.order_failures(1, stalled)] == ["max", "end"]
    sweeps = [sdc.SweepRow(k, (10.0**-k, 1e-3), (0.0, 0.0)) for k in range(1, 14)]
    failures = sdc.sweep_failures(sweeps)
    assert len(failures) == 1 and "'implicit-euler'" in failures[0]
    assert sdc.sweep_failures([]) != []
