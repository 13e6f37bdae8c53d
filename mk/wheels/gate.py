"""The checks a release wheel must pass before it counts; exits non-zero, naming each violation.

    python gate.py WHEEL PLATFORM_TAG     e.g. manylinux_2_17_x86_64

- auditwheel finds the wheel consistent with PLATFORM_TAG;
- every extension module's undefined symbols carry a version, except the interpreter's C API, which the
  interpreter itself provides (an unversioned libc symbol would bind to whatever the loader finds, or fail
  to bind on an older glibc at import);
- each module exports only its PyInit_ function;
- each module carries its interpreter's extension suffix for the wheel's architecture;
- no fused multiply-add instruction anywhere (results must be bit-exact on every machine);
- twine check --strict.
"""

import re
import shutil
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

from elftools.elf.elffile import ELFFile
from elftools.elf.gnuversions import GNUVerSymSection

OBJDUMP = {"x86_64": "objdump", "aarch64": "aarch64-linux-gnu-objdump"}
FMA = {
    "x86_64": re.compile(r"\s(v?f(n?)m(add|sub)\S*|vfmaddsub\S*|vfmsubadd\S*)\s"),
    "aarch64": re.compile(r"\s(fn?madd|fn?msub|fmla|fmls)\s"),
}


def interpreter_api(name: str) -> bool:
    return name.startswith(("Py", "_Py"))


def symbol_faults(module: Path) -> list[str]:
    faults = []
    with module.open("rb") as f:
        elf = ELFFile(f)
        dynsym = elf.get_section_by_name(".dynsym")
        versym = next((s for s in elf.iter_sections() if isinstance(s, GNUVerSymSection)), None)
        exported = []
        for i, symbol in enumerate(dynsym.iter_symbols()):
            name, binding = symbol.name, symbol["st_info"]["bind"]
            if not name or binding == "STB_LOCAL":
                continue
            if symbol["st_shndx"] == "SHN_UNDEF":
                version = versym.get_symbol(i)["ndx"] if versym is not None else "VER_NDX_GLOBAL"
                # Index 0 or 1: no version (linkers write either for an undefined symbol).
                unversioned = version in ("VER_NDX_LOCAL", "VER_NDX_GLOBAL", 0, 1)
                if unversioned and binding != "STB_WEAK" and not interpreter_api(name):
                    faults.append(f"{module.name}: unversioned undefined symbol {name}")
            else:
                exported.append(name)
    if len(exported) != 1 or not exported[0].startswith("PyInit_"):
        shown = sorted(exported)[:5] + ["..."] * (len(exported) > 5)
        faults.append(f"{module.name}: exports {len(exported)} symbols, not only its PyInit_ function: {shown}")
    return faults


def fma_faults(module: Path, arch: str) -> list[str]:
    listing = subprocess.run(
        [OBJDUMP[arch], "-d", "--no-show-raw-insn", str(module)], check=True, capture_output=True, text=True
    ).stdout
    found = sorted({m.group(1) for m in FMA[arch].finditer(listing)})
    return [f"{module.name}: fused multiply-add instructions {found}"] if found else []


def main(wheel: Path, tag: str) -> int:
    arch = tag.split("_", 3)[3]
    faults = []
    show = subprocess.run(
        [sys.executable, str(Path(__file__).with_name("auditwheel_for.py")), arch, "show", str(wheel)],
        capture_output=True,
        text=True,
    )
    tags = re.findall(r'platform tag:\s+"([^"]+)"', " ".join(show.stdout.split()))
    if tag not in tags:
        faults.append(f"auditwheel show: not consistent with {tag} ({tags or show.stdout + show.stderr})")
    with tempfile.TemporaryDirectory() as unpacked:
        zipfile.ZipFile(wheel).extractall(unpacked)
        modules = sorted(Path(unpacked).rglob("*.so"))
        if len(modules) != 2:
            faults.append(f"expected the two extension modules, found {[m.name for m in modules]}")
        for module in modules:
            if not module.name.endswith(f"-{arch}-linux-gnu.so"):
                faults.append(f"{module.name}: not named with its interpreter's extension suffix for {arch}")
            faults += symbol_faults(module) + fma_faults(module, arch)
    twine = subprocess.run(
        [sys.executable, "-m", "twine", "check", "--strict", str(wheel)], capture_output=True, text=True
    )
    if twine.returncode != 0:
        faults.append("twine check --strict: " + twine.stdout + twine.stderr)
    for fault in faults:
        print(f"{wheel.name}: {fault}")
    print(f"{wheel.name}: {'FAILED' if faults else 'passed'} the release checks ({tag})")
    return 1 if faults else 0


if __name__ == "__main__":
    assert shutil.which("objdump"), "objdump (binutils) is missing"
    sys.exit(main(Path(sys.argv[1]), sys.argv[2]))
