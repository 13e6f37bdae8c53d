#!/usr/bin/env bash
# One interpreter's release wheel: built, then installed into a venv of that interpreter and run against the
# pytest suite. Run from the work tree, on the host or inside the chroot that carries the interpreter.
#
#   test-one.sh build DIR PYTHON ZIG LIBGCC_S    the x86-64 wheel, into DIR/wheel-x86_64/ (see mk/wheels/)
#   test-one.sh test DIR PYTHON WHEEL           pytest against WHEEL (repaired and checked on the host meanwhile)
#
# DIR is that interpreter's folder under build/. The build venv (scikit-build-core, cmake, ninja) and the test
# venv (pytest, numpy, scipy and the wheel, nothing else of the project) are made once; numpy and scipy come as
# wheels only, and where there are none the tests that need them are left out, with a line saying so. The last
# line of DIR/pytest.log is pytest's summary; DIR/bits.txt holds the wheel's hashes of mk/wheels/bits.py.
set -euo pipefail

action=$1
dir=$2
python=$3
quiet=(--quiet --disable-pip-version-check)

# make_venv VENV PACKAGES...: once; the marker file says it is complete.
make_venv() {
    local venv=$1
    shift
    [ -f "$venv/.zelk-tools" ] && return
    rm -rf "$venv"
    mkdir -p "$dir"
    { "$python" -m venv "$venv" && "$venv/bin/python" -m pip install "${quiet[@]}" "$@"; } >"$venv.log" 2>&1 ||
        { tail -n 20 "$venv.log"; exit 1; }
    touch "$venv/.zelk-tools"
}

case $action in
build)
    make_venv "$dir/build-venv" scikit-build-core cmake ninja
    mk/wheels/build-one.sh "$dir" "$dir/build-venv/bin/python" x86_64 "$4" "$5" >/dev/null
    ;;
test)
    wheel=$4
    venv=$dir/test-venv
    make_venv "$venv" pytest
    if [ ! -f "$venv/.zelk-numpy" ]; then
        if "$venv/bin/python" -m pip install "${quiet[@]}" --only-binary=:all: numpy scipy >>"$venv.log" 2>&1; then
            echo "with numpy and scipy" >"$venv/.zelk-numpy"
        else
            echo "without numpy and scipy: no wheels for this interpreter (see $venv.log)" >"$venv/.zelk-numpy"
        fi
    fi
    "$venv/bin/python" -m pip install "${quiet[@]}" --no-index --no-deps --force-reinstall "$wheel" >>"$venv.log" 2>&1 ||
        { tail -n 20 "$venv.log"; exit 1; }
    echo "CPython $("$venv/bin/python" -c 'import platform, sysconfig
print(platform.python_version() + "t" * bool(sysconfig.get_config_var("Py_GIL_DISABLED")))'), $(cat "$venv/.zelk-numpy"), $(basename "$wheel")"
    # The suite must see the installed wheel, never the work tree.
    (cd "$dir" && test-venv/bin/python -c 'import sys, zelk; sys.exit(0 if "/test-venv/" in zelk.__file__ else zelk.__file__)')
    "$venv/bin/python" -X faulthandler mk/wheels/bits.py >"$dir/bits.txt"
    # Without the wheels, the test modules that import numpy or scipy outright cannot even be collected.
    ignore=()
    if ! grep -q "^with numpy" "$venv/.zelk-numpy"; then
        for module in $(grep -l -E '^(import|from) (numpy|scipy)' tests/python/*.py); do ignore+=(--ignore="$module"); done
        echo "not run for want of numpy and scipy: ${ignore[*]#--ignore=}"
    fi
    "$venv/bin/python" -m pytest -q -rs -p no:cacheprovider "${ignore[@]}" tests/python 2>&1 | tee "$dir/pytest.log"
    exit "${PIPESTATUS[0]}"
    ;;
esac
