"""A process memory limit (RLIMIT_AS) bounds requests: beyond it MemoryError before any work, within it success."""

import ctypes
import subprocess
import sys
import textwrap

import pytest

pytestmark = [
    pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/statm"),
    pytest.mark.skipif(
        hasattr(ctypes.CDLL(None), "__asan_init"),
        reason="ASan reserves terabytes of address space, so RLIMIT_AS cannot be lowered",
    ),
]

# In a fresh interpreter, with 1 GiB of address space left: the three requests
# need several GiB with their Python lists; then a grid of points (a double, a
# list slot and a float object each: 48 bytes, 64 on the free-threaded build,
# whose object header is larger) taking 3/4 of the room must fit, and one
# taking 9/8 must not.
SCRIPT = textwrap.dedent("""
    import mmap, resource, sys, time, zelk
    GIB = 1 << 30
    POINT = 16 + (sys.getsizeof(0.5) + 15) // 16 * 16
    used = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
    resource.setrlimit(resource.RLIMIT_AS, (used + GIB, resource.getrlimit(resource.RLIMIT_AS)[1]))
    try:
        mmap.mmap(-1, 2 * GIB).close()
        sys.exit("RLIMIT_AS has no effect")
    except OSError:
        pass
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    for call in (lambda: zelk.get_lagrange_points(1, 2 * 10**8, 1.0),
                 lambda: zelk.lagrange_to_legendre_basis_transformation(1, 10**7),
                 lambda: zelk.lagrange_prolongation_matrix(1, 3 * 10**7, 1),
                 lambda: zelk.get_lagrange_points(1, 9 * GIB // 8 // POINT, 1.0)):
        try:
            call()
            print("no error")
        except MemoryError:
            print("MemoryError")
    print(POINT)
    print("grew by", resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - peak, "KiB")
    time.sleep(0.01)  # past the cached reading of the limit
    print(len(zelk.get_lagrange_points(1, 3 * GIB // 4 // POINT, 1.0)))
""")


def test_address_space_limit():
    # The free-threaded build warns on stderr that importing zelk enables the GIL.
    result = subprocess.run(
        [sys.executable, "-W", "ignore::RuntimeWarning", "-c", SCRIPT], capture_output=True, text=True, timeout=120
    )
    if result.stderr == "RLIMIT_AS has no effect\n":
        pytest.skip("setrlimit(RLIMIT_AS) does not take effect here (an emulator?)")
    assert result.returncode == 0, result.stderr
    assert result.stderr == ""  # no "Python API call failed" notice or traceback
    lines = result.stdout.splitlines()
    assert lines[:4] == ["MemoryError"] * 4
    point = int(lines[4])
    grew = int(lines[5].split()[2])
    assert grew < 16 * 1024, lines[5]  # KiB: nothing was built before the error
    assert int(lines[6]) == (3 << 30) // 4 // point + 1


# zelk_arrays shares the check: under 1 GiB of address space, 16 GiB of points
# and a 2.4 GiB matrix fail at once, before anything is filled.
ARRAYS_SCRIPT = textwrap.dedent("""
    import mmap, resource, sys, zelk_arrays as za
    used = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
    resource.setrlimit(resource.RLIMIT_AS, (used + (1 << 30), resource.getrlimit(resource.RLIMIT_AS)[1]))
    try:
        mmap.mmap(-1, 2 << 30).close()
        sys.exit("RLIMIT_AS has no effect")
    except OSError:
        pass
    for call in (lambda: za.get_lagrange_points(1, 2**31 - 1, 1.0),
                 lambda: za.lagrange_to_legendre_basis_transformation(1, 10**8)):
        try:
            call()
            print("no error")
        except MemoryError:
            print("MemoryError")
""")


def test_address_space_limit_in_zelk_arrays():
    result = subprocess.run([sys.executable, "-c", ARRAYS_SCRIPT], capture_output=True, text=True, timeout=120)
    if result.stderr == "RLIMIT_AS has no effect\n":
        pytest.skip("setrlimit(RLIMIT_AS) does not take effect here (an emulator?)")
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["MemoryError"] * 2


# Degree 10**5: the reference blocks alone need hundreds of GiB; the error
# comes before the quadrature rule or any block is computed.
DEGREE_SCRIPT = textwrap.dedent("""
    import mmap, resource, sys, zelk_arrays as za
    used = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
    resource.setrlimit(resource.RLIMIT_AS, (used + (1 << 30), resource.getrlimit(resource.RLIMIT_AS)[1]))
    try:
        mmap.mmap(-1, 2 << 30).close()
        sys.exit("RLIMIT_AS has no effect")
    except OSError:
        pass
    space = za.LegendreSpace(10**5, 1)
    for call in (lambda: za.time_mass_matrix(space, space),
                 lambda: za.time_derivative_matrix(space, za.LagrangeSpace(10**5, 1)),
                 lambda: za.legendre_prolongation_matrix(1, 2, 10**5)):
        try:
            call()
            print("no error")
        except MemoryError:
            print("MemoryError")
""")


def test_huge_degrees_fail_before_any_work():
    result = subprocess.run([sys.executable, "-c", DEGREE_SCRIPT], capture_output=True, text=True, timeout=60)
    if result.stderr == "RLIMIT_AS has no effect\n":
        pytest.skip("setrlimit(RLIMIT_AS) does not take effect here (an emulator?)")
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["MemoryError"] * 3
