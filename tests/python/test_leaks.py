"""Every callable of zelk and zelk_arrays, 10^5 times on a success path and on failure paths: Python blocks, the C heap and resident memory stay flat."""

import ctypes
import gc
import os
import sys

import pytest

import zelk
import zelk_arrays as za

CALLS = 10**5
WARM_UP = 2000
MAX_BLOCKS = 100  # Python blocks a run may leave behind: 1 per 1000 calls
MAX_RSS = 1 << 20  # bytes of resident memory a run may add: 10 bytes per call
MAX_HEAP = 1 << 16  # bytes of C heap in use a run may add: one leaked allocation per call fails

LB, LBE = zelk.LegendreBasis, zelk.LegendreBasisEvaluator
DOFS = [0.5 * i for i in range(9)]  # degree 2, n_t 3


def under_asan():
    return hasattr(ctypes.CDLL(None), "__asan_init")


pytestmark = pytest.mark.skipif(
    under_asan(),
    reason="leaks are measured in the plain run: ASan's quarantine and shadow memory "
    "swamp the C heap and resident memory",
)


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


_libc = ctypes.CDLL(None)
# glibc before 2.33 (the wheels support 2.17 on) has only mallinfo, whose fields are ints: they wrap beyond
# 2 GiB, far above what this process's heap holds.
_HAS_MALLINFO2 = hasattr(_libc, "mallinfo2")
_mallinfo = _libc.mallinfo2 if _HAS_MALLINFO2 else _libc.mallinfo


class MallInfo(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t if _HAS_MALLINFO2 else ctypes.c_int)
        for name in (
            "arena",
            "ordblks",
            "smblks",
            "hblks",
            "hblkhd",
            "usmblks",
            "fsmblks",
            "uordblks",
            "fordblks",
            "keepcost",
        )
    ]


_mallinfo.restype = MallInfo


def heap_bytes():
    """Bytes that malloc has handed out and not got back. Unlike resident memory,
    this sees a small leak that fits in heap pages already resident."""
    info = _mallinfo()
    return info.uordblks + info.hblkhd


class HoldingFloat:
    """Converts after calling back into `evaluator`, whose hold on itself makes that fail."""

    def __init__(self, call):
        self.call = call

    def __float__(self):
        self.call()
        return 0.5


def cases():
    basis, empty_basis = LB(2, 3, 1.0), LB(2, 0, 1.0)
    evaluator = LBE(2, 3, 1.0)
    evaluator.set_dofs(DOFS)
    # items that re-enter the evaluator while it is held: RuntimeError
    reenter_set = [HoldingFloat(lambda: evaluator.evaluate_at(0.3))] * 9
    reenter_eval = HoldingFloat(lambda: evaluator.set_dofs(DOFS))
    expansion = za.LegendreExpansion(2, 3, 1.0, DOFS)
    batch = za.LegendreExpansion(2, 3, 1.0, [[d, -d] for d in DOFS])
    times = [0.1, 0.5, 0.9]
    return {
        "za.get_lagrange_points": (
            lambda: za.get_lagrange_points(2, 3, 1.0),
            [lambda: za.get_lagrange_points(2**62, 4, 1.0), lambda: za.get_lagrange_points(2**42, 1, 1.0)],
        ),
        "za.lagrange_prolongation_matrix": (
            lambda: za.lagrange_prolongation_matrix(2, 4, 2),
            [lambda: za.lagrange_prolongation_matrix(0, 1, 1), lambda: za.lagrange_prolongation_matrix(2**62, 1, 2)],
        ),
        "za.lagrange_to_legendre_basis_transformation": (
            lambda: za.lagrange_to_legendre_basis_transformation(4, 3),
            [
                lambda: za.lagrange_to_legendre_basis_transformation(0, 3),
                lambda: za.lagrange_to_legendre_basis_transformation(2**20, 2**20),
            ],
        ),
        "za.legendre_basis_matrix": (
            lambda: za.legendre_basis_matrix(2, 3, 1.0, times, derivative=True),
            [
                lambda: za.legendre_basis_matrix(2, 3, 1.0, times, derivative="x"),
                lambda: za.legendre_basis_matrix(2, 0, 1.0, times),
            ],
        ),
        "za.LegendreExpansion": (
            lambda: expansion.derivative(times),
            [lambda: expansion([10**400]), lambda: za.LegendreExpansion(2, 3, 1.0, DOFS[1:])],
        ),
        "za.LegendreExpansion batch": (lambda: batch(times), [lambda: batch("0.5"), lambda: batch([[None]])]),
        "sum_as_string": (
            lambda: zelk.sum_as_string(1, 2),
            [lambda: zelk.sum_as_string(-1, 2), lambda: zelk.sum_as_string(1.0, 2)],
        ),
        "get_lagrange_points": (
            lambda: zelk.get_lagrange_points(2, 3, 1.0),
            [lambda: zelk.get_lagrange_points(2**62, 1, 1.0), lambda: zelk.get_lagrange_points(10**6, 10**7, 1.0)],
        ),
        "lagrange_prolongation_matrix": (
            lambda: zelk.lagrange_prolongation_matrix(2, 4, 2),
            [
                lambda: zelk.lagrange_prolongation_matrix(0, 1, 1),
                lambda: zelk.lagrange_prolongation_matrix(1, 1, 10**12),
            ],
        ),
        "lagrange_to_legendre_basis_transformation": (
            lambda: zelk.lagrange_to_legendre_basis_transformation(4, 3),
            [
                lambda: zelk.lagrange_to_legendre_basis_transformation(0, 1),
                lambda: zelk.lagrange_to_legendre_basis_transformation(degree=1, n_t=1, T=1.0),
            ],
        ),
        "LegendreBasis": (lambda: LB(2, 3, 1.0), [lambda: LB(1.5, 3, 1.0), lambda: LB(2, -1, 1.0)]),
        "LegendreBasisEvaluator": (
            lambda: LBE(2, 3, 1.0),
            [lambda: LBE(10**6, 10**7, 1.0), lambda: LBE(2**62, 1, 1.0)],
        ),
        "LegendreBasis.evaluate_at": (
            lambda: basis.evaluate_at(0.3, DOFS),
            [lambda: basis.evaluate_at(0.3, DOFS[:-1]), lambda: basis.evaluate_at(0.3, DOFS[:-1] + ["x"])],
        ),
        "LegendreBasis.evaluate_all_basis_functions": (
            lambda: basis.evaluate_all_basis_functions(0.3),
            [lambda: empty_basis.evaluate_all_basis_functions(0.3), lambda: basis.evaluate_all_basis_functions(t="x")],
        ),
        "LegendreBasis.evaluate_all_basis_function_derivatives": (
            lambda: basis.evaluate_all_basis_function_derivatives(0.3),
            [
                lambda: basis.evaluate_all_basis_function_derivatives(tt=0.3),
                lambda: LB(0, 2**62, 1.0).evaluate_all_basis_function_derivatives(0.3),
            ],
        ),
        "LegendreBasisEvaluator.set_dofs": (
            lambda: evaluator.set_dofs(DOFS),
            [lambda: evaluator.set_dofs(DOFS[:-1]), lambda: evaluator.set_dofs(reenter_set)],
        ),
        "LegendreBasisEvaluator.evaluate_at": (
            lambda: evaluator.evaluate_at(0.3),
            [lambda: evaluator.evaluate_at(object()), lambda: evaluator.evaluate_at(reenter_eval)],
        ),
        "LegendreBasisEvaluator.evaluate_derivative_at": (
            lambda: evaluator.evaluate_derivative_at(0.3),
            [lambda: evaluator.evaluate_derivative_at(10**400), lambda: evaluator.evaluate_derivative_at(0.3, 0.4)],
        ),
    }


def run(call, count):
    for _ in range(count):
        call()


def run_failing(calls, count):
    for i in range(count):
        try:
            calls[i % len(calls)]()
        except BaseException:  # noqa: BLE001 - PanicException derives from BaseException
            pass
        else:
            raise AssertionError("a failure path succeeded")


def growth(work):
    """(Python blocks, C heap bytes, resident bytes) that `work` adds; the caller warms up first."""
    gc.collect()
    blocks, heap, rss = sys.getallocatedblocks(), heap_bytes(), resident_bytes()
    work()
    gc.collect()
    return sys.getallocatedblocks() - blocks, heap_bytes() - heap, resident_bytes() - rss


@pytest.fixture
def quiet_stderr():
    """Every internal fault writes a diagnostic line; 10^5 of them are noise here."""
    sys.stderr.flush()
    saved = os.dup(2)
    with open(os.devnull, "w") as devnull:
        os.dup2(devnull.fileno(), 2)
    try:
        yield
    finally:
        os.dup2(saved, 2)
        os.close(saved)


@pytest.mark.parametrize("path", ["success", "failure"])
@pytest.mark.parametrize("name", list(cases()))
def test_calls_do_not_leak(name, path, quiet_stderr):
    success, failures = cases()[name]
    work = (lambda n: run(success, n)) if path == "success" else (lambda n: run_failing(failures, n))
    work(WARM_UP)
    blocks, heap, rss = growth(lambda: work(CALLS))
    print(f"{name} {path}: {blocks} blocks, {heap} heap bytes, {rss} resident bytes after {CALLS} calls")
    assert blocks <= MAX_BLOCKS
    assert heap <= MAX_HEAP
    assert rss <= MAX_RSS


@pytest.mark.parametrize("leak", ["python objects", "native memory"])
def test_the_measurement_sees_a_small_leak(leak):
    """The bounds above catch a leak of one small object per call."""
    kept = []
    malloc = ctypes.CDLL(None).malloc
    malloc.restype = ctypes.c_void_p
    leak_one = (lambda: kept.append(object())) if leak == "python objects" else (lambda: malloc(8))
    blocks, heap, _ = growth(lambda: run(leak_one, CALLS))
    assert blocks > MAX_BLOCKS if leak == "python objects" else heap > MAX_HEAP
