#!/usr/bin/env bash
# Builds the wheel of one interpreter for one architecture with zig, for glibc 2.17; run from the work tree.
#
#   build-one.sh DIR PYTHON ARCH ZIG LIBGCC_S    DIR: that interpreter's folder under build/; ARCH: x86_64 or
#                                                aarch64; LIBGCC_S: that architecture's libgcc_s.so.1
#
# PYTHON is a venv's interpreter with scikit-build-core, cmake and ninja. The wheel (not yet repaired) lands
# in DIR/wheel-ARCH/; the build must be warning-free, as every other build of the project is.
set -euo pipefail

dir=$1
python=$2
arch=$3
zig=$4
libgcc_s=$5
out=$dir/wheel-$arch
log=$dir/wheel-$arch.log

env=(ZIG_GLOBAL_CACHE_DIR="$PWD/build/zig-cache" ZIG_LOCAL_CACHE_DIR="$PWD/build/zig-cache")
native=$("$python" -c 'import platform; print(platform.machine())')
if [ "$arch" != "$native" ]; then
    # Cross: the wheel's platform and the modules' suffix are the target's, not the interpreter's.
    suffix=$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
    env+=(_PYTHON_HOST_PLATFORM="linux-$arch" SETUPTOOLS_EXT_SUFFIX="${suffix//$native/$arch}")
fi

rm -rf "$out"
mkdir -p "$out"
env "${env[@]}" "$python" -m pip wheel --verbose --disable-pip-version-check --no-build-isolation --no-deps \
    -w "$out" -C build-dir="$dir/build-$arch" \
    -C cmake.define.CMAKE_TOOLCHAIN_FILE="$PWD/mk/wheels/zig-toolchain.cmake" \
    -C cmake.define.ZELK_ZIG="$zig" -C cmake.define.ZELK_ZIG_TARGET="$arch-linux-gnu.2.17" -C cmake.define.ZELK_ZIG_LIBGCC_S="$libgcc_s" \
    . >"$log" 2>&1 || { tail -n 40 "$log"; exit 1; }
if grep -q -E 'warning:' "$log"; then
    grep -E -A 3 'warning:' "$log"
    echo "the $arch build warns, see $log"
    exit 1
fi
ls "$out"/*.whl
