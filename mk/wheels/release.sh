#!/usr/bin/env bash
# The release wheels: for every CPython at hand (mk/pythons/interpreters.sh), one wheel per architecture built
# with zig for glibc 2.17, repaired to manylinux2014 and checked (gate.py), into OUTDIR. Builds reuse the
# interpreters' folders of test-pythons, so after `make test` the x86-64 ones are up to date already. Two
# interpreters of one version (pyenv's and Debian's 3.13) give one wheel: the first one's.
#
#   release.sh ROOT VENV OUTDIR     run from the work tree
set -euo pipefail

root=$1
venv=$2
out=$3
pythons=mk/pythons
zig=$("$venv/bin/python" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')
host_python=$("$venv/bin/python" -c 'import sys; print(sys._base_executable)')
# The aarch64 libgcc_s.so.1 (a first link input, see zig-toolchain.cmake) and the aarch64 disassembler that
# checks for fused multiply-adds; copied into the tree, which is all the chroot sees of the host.
if [ ! -f /usr/aarch64-linux-gnu/lib/libgcc_s.so.1 ] || ! command -v aarch64-linux-gnu-objdump >/dev/null; then
    echo "installing libgcc-s1-arm64-cross binutils-aarch64-linux-gnu"
    { apt-get update -qq -o DPkg::Lock::Timeout=900 && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        -o DPkg::Lock::Timeout=900 --no-install-recommends libgcc-s1-arm64-cross binutils-aarch64-linux-gnu; } >/dev/null
fi
mkdir -p build/wheels/lib-aarch64
cp /usr/aarch64-linux-gnu/lib/libgcc_s.so.1 build/wheels/lib-aarch64/
declare -A libgcc_s=([x86_64]=/lib/x86_64-linux-gnu/libgcc_s.so.1 [aarch64]=$PWD/build/wheels/lib-aarch64/libgcc_s.so.1)

where() {  # where WHERE CMD...
    if [ "$1" = chroot ]; then "$pythons/chroot.sh" "$root" run "$PWD" "${@:2}"; else "${@:2}"; fi
}

"$pythons/chroot.sh" "$root" ensure
declare -A released=()
while IFS='|' read -r name dir at python; do
    if [ "$dir" = skip ]; then
        echo "== $name: no wheel: $at"
        continue
    fi
    echo "== $name"
    abi=$(where "$at" "$python" -c \
        'import sys, sysconfig; print(sysconfig.get_config_var("SOABI") or sys.implementation.cache_tag)')
    if [ -n "${released[$abi]:-}" ]; then
        echo "   $abi: released from ${released[$abi]} already"
        continue
    fi
    released[$abi]=$name
    where "$at" "$pythons/test-one.sh" build "$dir" "$python" "$zig" "${libgcc_s[x86_64]}"
    arches=(x86_64)
    # CMake's FindPython finds no free-threaded headers in a cross build: that aarch64 wheel is not made yet.
    if [[ $abi == *313t* ]]; then
        echo "   no aarch64 wheel for the free-threaded build: CMake does not find its headers when cross-building"
    else
        where "$at" mk/wheels/build-one.sh "$dir" "$dir/build-venv/bin/python" aarch64 "$zig" \
            "${libgcc_s[aarch64]}" >/dev/null
        arches+=(aarch64)
    fi
    for arch in "${arches[@]}"; do
        wheel=$(mk/wheels/repair.sh "$dir"/wheel-$arch/*.whl "$arch" "$dir/repaired-$arch" "$venv")
        cp "$wheel" "$out/"
    done
done < <("$pythons/interpreters.sh" "$root" "$host_python")
