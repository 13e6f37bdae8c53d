"""Checks what a macOS extension module exports: its PyInit_ function, and of C++ only the runtime's symbols.

    python macho_exports.py MODULE...

zig links libc++ into the module and ignores the export list, so the runtime's symbols stay exported; the
project's own must not (they are hidden by default). Reads the Mach-O symbol table itself and demangles
with c++filt, so it needs no Apple tools.
"""

import re
import struct
import subprocess
import sys

LC_SYMTAB = 0x2
N_EXT, N_PEXT, N_TYPE, N_SECT = 0x01, 0x10, 0x0E, 0x0E
# What libc++, libc++abi and the unwinder define; the compiler's type information for built-in types.
RUNTIME = re.compile(
    r"^((typeinfo|typeinfo name|vtable|VTT|construction vtable|guard variable) for )?"
    r"(std::|__cxxabiv1::|__gnu_cxx::|operator (new|delete)|"
    r"(unsigned |signed )?(bool|char|wchar_t|char8_t|char16_t|char32_t|short|int|long|long long|"
    r"float|double|long double|void|decltype\(nullptr\)|__int128|__float128)( const)?\*?( const)?\*?$)"
)


def exported(path: str) -> list[str]:
    data = open(path, "rb").read()
    magic, _, _, _, ncmds, _, _, _ = struct.unpack_from("<8I", data, 0)
    if magic != 0xFEEDFACF:
        raise SystemExit(f"{path}: not a 64-bit Mach-O file")
    offset, names = 32, []
    for _ in range(ncmds):
        cmd, size = struct.unpack_from("<2I", data, offset)
        if cmd == LC_SYMTAB:
            symoff, nsyms, stroff, _ = struct.unpack_from("<4I", data, offset + 8)
            for i in range(nsyms):
                strx, ntype, _, _, _ = struct.unpack_from("<IBBHQ", data, symoff + 16 * i)
                if ntype & N_EXT and not ntype & N_PEXT and ntype & N_TYPE == N_SECT:
                    end = data.index(b"\0", stroff + strx)
                    names.append(data[stroff + strx : end].decode())
        offset += size
    return names


def main(paths: list[str]) -> int:
    faults = []
    for path in paths:
        names = [n[1:] if n.startswith("_") else n for n in exported(path)]  # Mach-O prefixes an underscore
        if not any(n.startswith("PyInit_") for n in names):
            faults.append(f"{path}: no PyInit_ function exported")
        mangled = [n for n in names if n.startswith("_Z")]
        demangled = subprocess.run(
            ["c++filt"], input="\n".join(mangled), capture_output=True, text=True, check=True
        ).stdout.splitlines()
        own = sorted(d for d in demangled if not RUNTIME.match(d))
        if own:
            faults.append(f"{path}: exports C++ symbols beyond the runtime's: {own[:10]}")
        else:
            print(f"{path}: {len(names)} exported, {len(mangled)} of them C++, all the runtime's")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
