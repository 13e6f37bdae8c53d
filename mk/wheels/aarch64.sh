#!/usr/bin/env bash
# The aarch64 wheels under qemu-user, in roots of Debian's arm64 packages: the cp311 wheel runs the whole
# pytest suite with Debian 12's CPython 3.11 (root ZELK_ARM64_ROOT); the other versions' wheels are imported
# with Debian unstable's CPythons (root ZELK_ARM64_SID_ROOT). Every one must give the development build's bits
# (bits.py). A root is made on first use (some minutes): debootstrap's first stage fetches the packages, which
# are unpacked without being configured, since nothing of them has to run but the interpreters.
#
#   aarch64.sh VENV WHEELDIR [VERSION...]    run from the work tree; VENV: the project's venv; VERSION: only
#                                            these wheels' (3.11: the suite), by default all
set -euo pipefail

venv=$1
wheels=$2
root=${ZELK_ARM64_ROOT:-/var/cache/zelk/arm64-bookworm}
sid_root=${ZELK_ARM64_SID_ROOT:-/var/cache/zelk/arm64-sid}
mirror=${ZELK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
work=build/wheels/aarch64-test
versions=("${@:3}")
[ ${#versions[@]} -gt 0 ] || versions=(3.11 3.12 3.13 3.14 3.15)

if ! command -v qemu-aarch64 >/dev/null || ! command -v debootstrap >/dev/null; then
    echo "installing qemu-user debootstrap"
    { apt-get update -qq -o DPkg::Lock::Timeout=900 && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        -o DPkg::Lock::Timeout=900 --no-install-recommends qemu-user debootstrap; } >/dev/null
fi

# site ROOT VERSION: where numpy and scipy for python$VERSION are; the 3.11 root holds one interpreter only.
site() {
    if [ "$1" = "$root" ]; then echo "$1/opt/zelk-site"; else echo "$1/opt/zelk-site-$2"; fi
}

# make_root ROOT SUITE WITH VERSION...: a root of SUITE's arm64 packages with python$VERSION of each VERSION
# and, in its site, numpy, scipy and WITH as aarch64 wheels for it. Holds ROOT's lock on fd 9.
make_root() {
    local r=$1 suite=$2 with=$3 v include
    shift 3
    include=$(printf 'python%s,' "$@")
    mkdir -p "$(dirname "$r")"
    exec 9>"$r.lock"
    flock 9
    [ -f "$r/.zelk-ready" ] && return
    echo "making the arm64 root $r (Debian $suite, python$*)"
    rm -rf --one-file-system "$r"
    debootstrap --foreign --arch=arm64 --variant=minbase --include="${include%,}" "$suite" "$r" \
        "$mirror" >"$r.log" 2>&1 || { tail -n 20 "$r.log"; return 1; }
    for deb in "$r"/var/cache/apt/archives/*.deb; do dpkg-deb -x "$deb" "$r"; done
    # The wheels' tags name the target CPython already; --ignore-requires-python, as pip (23.2) would check
    # the packages' Requires-Python against its own interpreter, not that one, in some cases (3.15).
    for v in "$@"; do
        "$venv/bin/python" -m pip install --quiet --disable-pip-version-check --target "$(site "$r" "$v")" \
            --ignore-requires-python --only-binary=:all: --implementation cp --python-version "$v" --abi "cp${v/./}" \
            --platform manylinux_2_28_aarch64 --platform manylinux2014_aarch64 numpy scipy $with >>"$r.log" 2>&1 ||
            { tail -n 20 "$r.log"; return 1; }
    done
    touch "$r/.zelk-ready"
}

# qemu_python ROOT VERSION DIR: DIR/python runs ROOT's python$VERSION under qemu, with the wheel unpacked in
# DIR/wheel. The suite starts fresh interpreters through sys.executable: -0 makes this script the
# interpreter's idea of its own path, so they run under qemu too. Bytecode goes to a folder in ROOT: beside
# the stdlib, qemu would put it into the host's /usr.
qemu_python() {
    local r=$1 v=$2 dir=$PWD/$3
    cat >"$dir/python" <<SCRIPT
#!/bin/sh
PYTHONHOME=/usr PYTHONPYCACHEPREFIX=$r/opt/zelk-pycache-$v PYTHONPATH=$dir/wheel:$(site "$r" "$v")\${PYTHONPATH:+:\$PYTHONPATH} exec qemu-aarch64 -L "$r" -0 "$dir/python" \
    "$r/usr/bin/python$v" "\$@"
SCRIPT
    chmod +x "$dir/python"
}

# smoke DIR VERSION: unpacks the cp-VERSION wheel into DIR/wheel, imports both packages from it and compares
# its bits with the development build's.
smoke() {
    local dir=$1 v=$2 wheel
    wheel=$(ls "$wheels"/zelk-*-cp${v/./}-cp${v/./}-*aarch64*.whl)
    "$venv/bin/python" -m zipfile -e "$wheel" "$dir/wheel"
    # Bytecode is kept: compiling the stdlib, numpy and scipy under qemu takes minutes.
    env -u PYTHONDONTWRITEBYTECODE "$dir/python" -c 'import platform, sys, zelk, zelk_arrays
assert platform.machine() == "aarch64", platform.machine()
for m in zelk, zelk_arrays: assert "/aarch64-test/" in m.__file__, m.__file__
print("CPython", sys.version.split()[0], "on", platform.machine(), "under qemu:", zelk.__file__)'
    env -u PYTHONDONTWRITEBYTECODE "$dir/python" mk/wheels/bits.py >"$dir/bits.txt"
    if ! diff "$work/bits-development.txt" "$dir/bits.txt"; then
        echo "$(basename "$wheel") gives other bits than the development build"
        return 1
    fi
    echo "$(basename "$wheel"): the development build's bits: $(tr '\n' ' ' <"$dir/bits.txt")"
}

rm -rf "$work"
mkdir -p "$work/wheel"
"$venv/bin/python" mk/wheels/bits.py >"$work/bits-development.txt"

if [[ " ${versions[*]} " == *" 3.11 "* ]]; then
    make_root "$root" bookworm pytest 3.11
    qemu_python "$root" 3.11 "$work"
    smoke "$work" 3.11
    # ZELK_QEMU_TESTS: the test files to run (make test's quicker pick); the whole suite by default.
    # shellcheck disable=SC2086 # a list of paths
    "$work/python" -m pytest -q -rs -p no:cacheprovider ${ZELK_QEMU_TESTS:-tests/python}
fi

# Import and bits only, the suite taking long under qemu. Debian unstable carries some versions only; the
# others are skipped.
index=$(curl -fsSL "$mirror/dists/sid/main/binary-arm64/Packages.xz" | xz -dc | sed -n 's/^Package: python\(3\.[0-9]*\)$/\1/p')
available=()
for v in "${versions[@]}"; do
    if [ "$v" = 3.11 ]; then
        continue
    elif grep -qx "${v//./\\.}" <<<"$index"; then
        available+=("$v")
    else
        echo "== aarch64 cp${v/./}: not run: Debian unstable has no arm64 python$v package"
    fi
done
[ ${#available[@]} -eq 0 ] && exit 0
make_root "$sid_root" sid "" "${available[@]}"
for v in "${available[@]}"; do
    echo "== aarch64 cp${v/./}: import and bits under Debian unstable's python$v"
    mkdir -p "$work/$v/wheel"
    qemu_python "$sid_root" "$v" "$work/$v"
    smoke "$work/$v" "$v"
done
