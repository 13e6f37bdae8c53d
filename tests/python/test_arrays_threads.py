import subprocess
import sys
import textwrap

import pytest

np = pytest.importorskip("numpy")
pytest.importorskip("scipy.sparse")

# About 2e12 operations, hours of work unless Ctrl-C stops it; zeros are untouched pages, so this costs
# no memory. An interrupt that only lands after the call would run into the generous timeout instead.
INTERRUPTED = textwrap.dedent(
    """
    import _thread, signal, threading
    import numpy as np
    import zelk_arrays as za

    # A parent started in the background may have passed SIGINT on as ignored, and then Python installs no handler.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    f = za.LegendreExpansion(10_000, 1, 1.0, np.ones(10_001))
    times = np.zeros(200_000_000)
    threading.Timer(0.3, _thread.interrupt_main).start()
    try:
        f(times)
    except KeyboardInterrupt:
        print("interrupted")
    """
)


def test_ctrl_c_stops_a_long_evaluation_without_the_gil():
    result = subprocess.run([sys.executable, "-c", INTERRUPTED], capture_output=True, text=True, timeout=300)
    assert (result.stdout, result.stderr) == ("interrupted\n", "")


# Runs in a fresh interpreter: importing zelk (which needs the GIL) would turn
# the GIL back on in this one. Under a free-threaded build the GIL must stay off.
STRESS = textwrap.dedent(
    """
    import sys, sysconfig, threading
    import numpy as np
    import zelk_arrays as za

    free_threaded = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
    f = za.LegendreExpansion(8, 101, 3.0, np.random.default_rng(0).normal(size=101 * 9))
    inputs = [np.random.default_rng(seed).uniform(-0.1, 3.1, 20_000) for seed in range(4)]
    values = [f(t) for t in inputs]
    prolongation = za.lagrange_prolongation_matrix(7, 501, 3)
    basis = za.legendre_basis_matrix(8, 101, 3.0, inputs[0])
    start = threading.Barrier(len(inputs))
    failures = []

    def work(i):
        start.wait()
        try:
            for _ in range(25):
                assert np.array_equal(f(inputs[i]), values[i])
                m = za.lagrange_prolongation_matrix(7, 501, 3)
                assert np.array_equal(m.data, prolongation.data) and np.array_equal(m.indices, prolongation.indices)
                b = za.legendre_basis_matrix(8, 101, 3.0, inputs[0])
                assert np.array_equal(b.data, basis.data)
                assert za.get_lagrange_points(3, 1001, 2.0)[-1] == 2.0
        except BaseException as error:
            failures.append(repr(error))

    threads = [threading.Thread(target=work, args=(i,), daemon=True) for i in range(len(inputs))]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=240)
        assert not t.is_alive(), "a thread did not finish its 25 rounds within 240 s"
    assert not failures, failures
    if free_threaded:
        assert not sys._is_gil_enabled(), "zelk_arrays turned the GIL on"
    print("free-threaded" if free_threaded else "with GIL")
    """
)


def test_threads_share_nothing():
    result = subprocess.run([sys.executable, "-c", STRESS], capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stderr
    assert result.stderr == ""
