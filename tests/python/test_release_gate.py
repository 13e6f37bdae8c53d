"""The release gate's check for fused multiply-adds (mk/wheels/gate.py): it flags a deliberately fused build on
both architectures, and passes the double-double product, which aarch64 would otherwise fuse."""

import importlib.util
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
ziglang = pytest.importorskip("ziglang", reason="needs the wheel toolchain of the project's venv (ziglang)")
pytest.importorskip("elftools", reason="needs the wheel toolchain of the project's venv (pyelftools)")

_spec = importlib.util.spec_from_file_location("gate", ROOT / "mk" / "wheels" / "gate.py")
gate = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(gate)

ZIG = Path(ziglang.__file__).with_name("zig")
SUM = "double f(double a, double b, double c) { return a * b + c; }\n"
EXPLICIT = "#include <cmath>\ndouble f(double a, double b, double c) { return std::fma(a, b, c); }\n"
PRODUCT = (
    '#include "time_operators/double_double.hpp"\n'
    "using zelk::time_operators::DoubleDouble;\n"
    "DoubleDouble f(DoubleDouble a, DoubleDouble b) { return a * b; }\n"
    "DoubleDouble g(DoubleDouble a, DoubleDouble b) { return a / b; }\n"
)
# The project's own flags (CMakeLists.txt); a build that contracts, and one with x86-64's FMA unit on.
STRICT = ["-O2", "-ffp-contract=off", "-fno-fast-math"]
FUSED = ["-O2", "-ffp-contract=fast"]


@pytest.mark.parametrize(
    ("arch", "source", "flags", "fused"),
    [
        ("aarch64", SUM, FUSED, True),
        ("x86_64", SUM, FUSED + ["-mfma"], True),
        ("aarch64", EXPLICIT, STRICT, True),
        ("aarch64", SUM, STRICT, False),
        ("aarch64", PRODUCT, STRICT, False),
        ("x86_64", PRODUCT, STRICT, False),
    ],
)
def test_gate_flags_fused_instructions_only(tmp_path, arch, source, flags, fused):
    if not shutil.which(gate.OBJDUMP[arch]):
        pytest.skip(f"{gate.OBJDUMP[arch]} is missing (make dist installs it)")
    (tmp_path / "f.cpp").write_text(source)
    obj = tmp_path / "f.o"
    subprocess.run(
        [
            str(ZIG),
            "c++",
            "-target",
            f"{arch}-linux-gnu",
            "-std=c++20",
            *flags,
            f"-I{ROOT / 'src'}",
            "-c",
            str(tmp_path / "f.cpp"),
            "-o",
            str(obj),
        ],
        check=True,
        env={
            "ZIG_GLOBAL_CACHE_DIR": str(ROOT / "build" / "zig-cache"),
            "ZIG_LOCAL_CACHE_DIR": str(ROOT / "build" / "zig-cache"),
            "PATH": "/usr/bin:/bin",
        },
    )
    faults = gate.fma_faults(obj, arch)
    assert bool(faults) == fused, faults
