"""Internal faults: PanicException, its diagnostics, callbacks that panic, and holds released after faults."""

import subprocess
import sys

import pytest

import zelk


def test_panic_is_a_base_exception_with_the_message(panic_type):
    assert issubclass(panic_type, BaseException)
    assert not issubclass(panic_type, Exception)
    assert panic_type.__name__ == "PanicException"
    assert panic_type.__module__ == "zelk_native"
    assert not hasattr(zelk, "PanicException")
    assert "BaseException" in panic_type.__doc__
    with pytest.raises(BaseException) as caught:
        try:
            zelk.get_lagrange_points(2**62, 1, 1.0)
        except Exception:  # noqa: BLE001 - must not catch it
            pytest.fail("PanicException was caught by 'except Exception'")
    assert type(caught.value) is panic_type
    assert str(caught.value) == "capacity overflow"
    assert caught.value.args == ("capacity overflow",)


def test_fault_writes_a_diagnostic_to_stderr():
    code = "import zelk\ntry:\n    zelk.get_lagrange_points(2**62, 1, 1.0)\nexcept BaseException as e:\n    print(type(e).__name__)"
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert result.stdout.strip() == "PanicException"
    assert "capacity overflow" in result.stderr
    assert "thread" in result.stderr and ".cpp:" in result.stderr


def test_panic_raised_by_a_callback_becomes_a_new_panic(panic_type, capfd):
    original = panic_type("from the callback")

    class Panicky:
        def __float__(self):
            raise original

    with pytest.raises(panic_type) as caught:
        zelk.get_lagrange_points(1, 1, Panicky())
    assert caught.value is not original
    assert str(caught.value) == "from the callback"
    err = capfd.readouterr().err
    assert "PanicException" in err and "from the callback" in err


def test_fault_inside_a_method_releases_the_hold(panic_type):
    evaluator = zelk.LegendreBasisEvaluator(1, 2, 1.0)
    evaluator.set_dofs([1.0, 2.0, 3.0, 4.0])
    with pytest.raises(panic_type):
        evaluator.set_dofs([1.0])
    assert evaluator.evaluate_at(0.75) == 2.0
    evaluator.set_dofs([4.0, 3.0, 2.0, 1.0])
    assert evaluator.evaluate_at(0.25) == 4.0


@pytest.mark.parametrize(
    "call",
    [
        lambda: zelk.lagrange_to_legendre_basis_transformation(3000, 1),  # a large dense inverse
        # Seconds of rows, and about 8 GB with its result lists: a larger one would fail at once with MemoryError.
        lambda: zelk.lagrange_prolongation_matrix(1, 6 * 10**6, 3),
    ],
    ids=["transformation", "prolongation"],
)
def test_long_computations_stop_for_signal_handlers(call):
    import signal

    class Stop(Exception):
        pass

    def handler(signum, frame):
        raise Stop

    previous = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.2)
        with pytest.raises(Stop):
            call()
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert zelk.lagrange_prolongation_matrix(1, 2, 1)[0] == [0, 1, 1, 2]
