"""The time-stepping example: its printed orders, slab agreement and parareal convergence, which `make test` relies on."""

import re

import numpy as np


def test_quick_run_prints_orders_2q_plus_1_and_converged_parareal(stepping, capsys):
    assert stepping.main(["--quick"]) == 0
    out = capsys.readouterr().out
    blocks = re.findall(r"^dG\((\d)\): expected order (\d+).*\n.*\n((?:\s+\d+ .*\n)+)", out, re.MULTILINE)
    assert [int(q) for q, _, _ in blocks] == [0, 1, 2, 3]
    for q, stated, table in blocks:
        assert int(stated) == 2 * int(q) + 1
        rows = [line.split() for line in table.splitlines()]
        orders = [float(row[2]) for row in rows[1:]]
        assert np.all(np.abs(np.array(orders) - (2 * int(q) + 1)) <= 0.35), (q, orders)
        assert max(float(row[3]) for row in rows) <= 1e-13
    iterations = [float(x) for x in re.findall(r"^  iteration \d+: (\S+)$", out, re.MULTILINE)]
    assert iterations[0] > 1e-4 and iterations[-1] <= 1e-13
    assert "CHECK FAILED" not in out


def test_checks_flag_wrong_orders_differences_and_unconverged_parareal(stepping):
    rows = [stepping.Row(n, n**-3.0, 0.0) for n in (4, 8, 16)]
    assert stepping.order_failures(1, rows) == []
    assert len(stepping.order_failures(2, rows)) == 2
    apart = [stepping.Row(4, 1e-3, 1e-10)]
    assert stepping.order_failures(1, apart) == ["dG(1): slabs and all-at-once differ by 1.00e-10 at n_t = 4"]
    assert stepping.parareal_failures([1e-2, 1e-9]) != []
    assert stepping.parareal_failures([1e-2, 1e-15]) == []
