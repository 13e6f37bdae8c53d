"""Ctrl-C during long calls: KeyboardInterrupt arrives promptly on every path whose work grows with the input."""

import signal
import subprocess
import sys
import time

import pytest

# A parent started in the background passes SIGINT on as ignored, and then Python installs no handler.
CHILD = """
import signal, sys, time, zelk
signal.signal(signal.SIGINT, signal.default_int_handler)
{setup}
print("go", flush=True)
try:
    {call}
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", time.monotonic(), flush=True)
"""

# Each call runs for seconds (several times the bound below) when left alone;
# the signal comes `delay` seconds in (the prolongation's export comes late).
PATHS = {
    "transformation": ("", "zelk.lagrange_to_legendre_basis_transformation(1, 10**7)", 0.2),
    "points": ("", "zelk.get_lagrange_points(1, 10**8, 1.0)", 0.2),
    "basis_vector": ("", "zelk.LegendreBasis(1, 5 * 10**7, 1.0).evaluate_all_basis_functions(0.5)", 0.2),
    "recurrence": ("ev = zelk.LegendreBasisEvaluator(2 * 10**8, 1, 1.0)", "ev.evaluate_at(0.5)", 0.2),
    "prolongation_rows": ("", "zelk.lagrange_prolongation_matrix(1, 3 * 10**6, 3)", 0.2),
    "prolongation_export": ("", "zelk.lagrange_prolongation_matrix(1, 3 * 10**6, 3)", 1.2),
    "sequence": ("", "zelk.LegendreBasis(1, 1, 1.0).evaluate_at(0.5, range(2**40))", 0.2),
}


@pytest.mark.parametrize("setup, call, delay", PATHS.values(), ids=PATHS.keys())
def test_interrupt_ends_the_call_promptly(setup, call, delay):
    child = subprocess.Popen(
        [sys.executable, "-c", CHILD.format(setup=setup, call=call)], stdout=subprocess.PIPE, text=True
    )
    try:
        assert child.stdout.readline() == "go\n"
        time.sleep(delay)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        word, *when = child.communicate(timeout=300)[0].split()
        assert word == "interrupted"
        # Lands within milliseconds; the rest is releasing what the call had built. An interrupt that waited
        # for the call's end would come after it: each call takes 8 s or more alone, and longer on a loaded
        # machine, where the release slows too. The bound tells the two apart without being a race.
        assert float(when[0]) - sent < 4.0
    finally:
        child.kill()
        child.wait()
