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

# zig's cache (the C++ runtime and C library stubs it builds for each target, and the objects): ZELK_ZIG_CACHE,
# else the one beside a zig that mk/wheels/zig.sh keeps outside the tree, else one in the tree.
home=$(dirname "$(dirname "$zig")")
if [ -n "${ZELK_ZIG_CACHE:-}" ]; then
    cache=$ZELK_ZIG_CACHE
elif [ -d "$home/zig-cache" ]; then
    cache=$home/zig-cache
else
    cache=$PWD/build/zig-cache
fi
env=(ZIG_GLOBAL_CACHE_DIR="$cache" ZIG_LOCAL_CACHE_DIR="$cache")
# The commit's time stamps every file of the wheel, so that one commit gives the same bytes wherever it is
# built (the compiler maps the source folder away, see CMakeLists.txt). Inside the chroot, which has no git,
# the caller's SOURCE_DATE_EPOCH is passed on.
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || true)}
[ -z "$epoch" ] || env+=(SOURCE_DATE_EPOCH="$epoch")
native=$("$python" -c 'import platform; print(platform.machine())')
if [ "$arch" != "$native" ]; then
    # Cross: the wheel's platform and the modules' suffix are the target's, not the interpreter's.
    suffix=$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
    env+=(_PYTHON_HOST_PLATFORM="linux-$arch" SETUPTOOLS_EXT_SUFFIX="${suffix//$native/$arch}")
fi

# Debian's pyconfig.h includes the architecture's own from /usr/include/<triplet>/, which zig does not search
# (it brings the target's C library headers): that one folder is made visible, also for a cross build.
flags=()
include=$("$python" -c 'import sysconfig; print(sysconfig.get_path("include"))')
multiarch=$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("MULTIARCH") or "")')
if [ -n "$multiarch" ] && [ -d "/usr/include/$multiarch/${include##*/}" ]; then
    shim=$PWD/$dir/include-$arch/$arch-linux-gnu
    mkdir -p "$shim"
    ln -sfn "/usr/include/$multiarch/${include##*/}" "$shim/${include##*/}"
    flags+=(-C cmake.define.CMAKE_CXX_FLAGS="-I$PWD/$dir/include-$arch")
fi

rm -rf "$out"
mkdir -p "$out"
env "${env[@]}" "$python" -m pip wheel --verbose --disable-pip-version-check --no-build-isolation --no-deps \
    -w "$out" -C build-dir="$dir/build-$arch" \
    -C cmake.define.CMAKE_TOOLCHAIN_FILE="$PWD/mk/wheels/zig-toolchain.cmake" \
    "${flags[@]}" -C cmake.define.ZELK_ZIG="$zig" -C cmake.define.ZELK_ZIG_TARGET="$arch-linux-gnu.2.17" -C cmake.define.ZELK_ZIG_LIBGCC_S="$libgcc_s" \
    . >"$log" 2>&1 || { tail -n 40 "$log" >&2; exit 1; }
if grep -q -E 'warning:' "$log"; then
    grep -E -A 3 'warning:' "$log" >&2
    echo "the $arch build warns, see $log" >&2
    exit 1
fi
ls "$out"/*.whl
