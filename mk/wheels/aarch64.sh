#!/usr/bin/env bash
# The aarch64 wheels under qemu-user, in a root of Debian 12's arm64 packages (its CPython 3.11) kept in
# ZELK_ARM64_ROOT: the cp311 wheel runs the whole pytest suite and must give the development build's bits
# (bits.py). The root is made on first use (some minutes): debootstrap's first stage fetches the packages,
# which are unpacked without being configured, since nothing of them has to run but the interpreter.
#
#   aarch64.sh VENV WHEELDIR     run from the work tree; VENV: the project's venv
set -euo pipefail

venv=$1
wheels=$2
root=${ZELK_ARM64_ROOT:-/var/cache/zelk/arm64-bookworm}
mirror=${ZELK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
site=$root/opt/zelk-site
work=build/wheels/aarch64-test

if ! command -v qemu-aarch64 >/dev/null || ! command -v debootstrap >/dev/null; then
    echo "installing qemu-user debootstrap"
    { apt-get update -qq -o DPkg::Lock::Timeout=900 && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        -o DPkg::Lock::Timeout=900 --no-install-recommends qemu-user debootstrap; } >/dev/null
fi

mkdir -p "$(dirname "$root")"
exec 9>"$root.lock"
flock 9
if [ ! -f "$root/.zelk-ready" ]; then
    echo "making the arm64 root $root (Debian 12, python3.11)"
    rm -rf --one-file-system "$root"
    debootstrap --foreign --arch=arm64 --variant=minbase --include=python3.11 bookworm "$root" "$mirror" \
        >"$root.log" 2>&1 || { tail -n 20 "$root.log"; exit 1; }
    for deb in "$root"/var/cache/apt/archives/*.deb; do dpkg-deb -x "$deb" "$root"; done
    # numpy, scipy and pytest as aarch64 wheels, for this CPython.
    "$venv/bin/python" -m pip install --quiet --disable-pip-version-check --target "$site" --only-binary=:all: \
        --implementation cp --python-version 3.11 --abi cp311 \
        --platform manylinux_2_28_aarch64 --platform manylinux2014_aarch64 numpy scipy pytest >>"$root.log" 2>&1 ||
        { tail -n 20 "$root.log"; exit 1; }
    touch "$root/.zelk-ready"
fi

# The suite starts fresh interpreters through sys.executable: this script runs them under qemu too, as
# -0 makes it the interpreter's idea of its own path.
rm -rf "$work"
mkdir -p "$work/wheel"
cat >"$work/python" <<SCRIPT
#!/bin/sh
PYTHONHOME=/usr PYTHONPATH=$PWD/$work/wheel:$site\${PYTHONPATH:+:\$PYTHONPATH} exec qemu-aarch64 -L "$root" -0 "$PWD/$work/python" \
    "$root/usr/bin/python3.11" "\$@"
SCRIPT
chmod +x "$work/python"
wheel=$(ls "$wheels"/zelk-*-cp311-cp311-*aarch64*.whl)
"$venv/bin/python" -m zipfile -e "$wheel" "$work/wheel"
"$work/python" -c 'import platform, sys, zelk; assert platform.machine() == "aarch64", platform.machine()
assert "/aarch64-test/wheel/" in zelk.__file__, zelk.__file__; print("CPython", sys.version.split()[0], "on", platform.machine(), "under qemu:", zelk.__file__)'
"$work/python" mk/wheels/bits.py >"$work/bits.txt"
"$venv/bin/python" mk/wheels/bits.py >"$work/bits-development.txt"
if ! diff "$work/bits-development.txt" "$work/bits.txt"; then
    echo "$(basename "$wheel") gives other bits than the development build"
    exit 1
fi
echo "$(basename "$wheel"): the development build's bits: $(tr '\n' ' ' <"$work/bits.txt")"
"$work/python" -m pytest -q -rs -p no:cacheprovider tests/python
