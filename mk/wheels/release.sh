#!/usr/bin/env bash
# The release wheels: for every CPython at hand (mk/pythons/interpreters.sh), one wheel per architecture built
# with zig for glibc 2.17, repaired to manylinux2014 and checked (gate.py), into OUTDIR. Builds reuse the
# interpreters' folders of test-pythons, so after `make test` the x86-64 ones are up to date already. Two
# interpreters of one version (pyenv's and Debian's 3.13) give one wheel: the first one's.
#
#   release.sh ROOT VENV OUTDIR [reuse [VERSION]]    run from the work tree; reuse: take the x86-64 wheels
#                                          that test-pythons has just built, repaired and checked as they are;
#                                          VERSION: only that CPython's wheels (e.g. 3.11)
set -euo pipefail

root=$1
venv=$2
out=$3
reuse=${4:-}
only=${5:-}
# The wheels carry the commit's time (see build-one.sh); the chroot has no git to ask.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
pythons=mk/pythons
zig=$(mk/wheels/zig.sh "$venv")
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

# The chroot only where one of its interpreters is asked for: `make test` builds it in a stage of its own.
if [ -z "$only" ] || ! "$pythons/interpreters.sh" "$root" "$host_python" | grep -q "^$only (.*|host|"; then
    "$pythons/chroot.sh" "$root" ensure
fi
declare -A released=()
while IFS='|' read -r name dir at python; do
    if [ -n "$only" ] && [[ $name != "$only "* ]]; then
        continue
    elif [ "$dir" = skip ]; then
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
    arches=()
    if [ "$reuse" = reuse ] && compgen -G "$dir/repaired-x86_64/*.whl" >/dev/null; then
        cp "$dir"/repaired-x86_64/*.whl "$out/"
    else
        where "$at" "$pythons/test-one.sh" build "$dir" "$python" "$zig" "${libgcc_s[x86_64]}"
        arches+=(x86_64)
    fi
    if [[ $abi == *313t* ]]; then
        echo "   no aarch64 wheel for the free-threaded 3.13t: cross-building, CMake's FindPython takes Debian's python3.13-config in the chroot, not the free-threaded build's headers (Development.Module not found, even when given Python_INCLUDE_DIR and Python_FIND_ABI=ANY;ANY;ANY;ON)"
    else
        where "$at" mk/wheels/build-one.sh "$dir" "$dir/build-venv/bin/python" aarch64 "$zig" \
            "${libgcc_s[aarch64]}" >/dev/null
        arches+=(aarch64)
    fi
    for arch in "${arches[@]}"; do
        rm -rf "$dir/repaired-$arch"
        wheel=$(mk/wheels/repair.sh "$dir"/wheel-$arch/*.whl "$arch" "$dir/repaired-$arch" "$venv")
        cp "$wheel" "$out/"
    done
done < <("$pythons/interpreters.sh" "$root" "$host_python")
# 3.14t would need its interpreter built from source in the chroot, as 3.13t is.
echo "== 3.14t (free-threaded): no wheel: Debian unstable ships no free-threaded CPython 3.14 (no python3.14-nogil package), and building one from source in the chroot, as for 3.13t, would add as much again to a first make test (3.13t's took 30 minutes on this shared 2-core machine)"
