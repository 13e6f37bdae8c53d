#!/usr/bin/env bash
# Builds the project for one interpreter, in a venv and a build folder of its own, and runs the pytest suite.
#
#   test-one.sh DIR PYTHON    DIR: that interpreter's folder under build/; run from the work tree
#
# The venv is made once; numpy and scipy come as wheels only, and where there are none the tests that
# need them are left out, with a line saying so. The last line of DIR/pytest.log is pytest's summary.
set -euo pipefail

dir=$1
python=$2
venv=$dir/venv
tools=(scikit-build-core cmake ninja pytest)
quiet=(--quiet --disable-pip-version-check)

if [ ! -f "$venv/.zelk-tools" ]; then
    rm -rf "$venv"
    mkdir -p "$dir"
    { "$python" -m venv "$venv" && "$venv/bin/python" -m pip install "${quiet[@]}" "${tools[@]}"; } >"$dir/venv.log" 2>&1 ||
        { tail -n 20 "$dir/venv.log"; exit 1; }
    if "$venv/bin/python" -m pip install "${quiet[@]}" --only-binary=:all: numpy scipy >>"$dir/venv.log" 2>&1; then
        echo "with numpy and scipy" >"$venv/.zelk-tools"
    else
        echo "without numpy and scipy: no wheels for this interpreter (see $dir/venv.log)" >"$venv/.zelk-tools"
    fi
fi
echo "CPython $("$venv/bin/python" -c 'import platform, sysconfig
print(platform.python_version() + "t" * bool(sysconfig.get_config_var("Py_GIL_DISABLED")))'), $(cat "$venv/.zelk-tools")"

# The build tools are the venv's own, so no build environment is downloaded on every run. The build
# must be warning-free on every interpreter's headers and every compiler, as it is on the main one.
"$venv/bin/python" -m pip install --verbose --disable-pip-version-check --no-build-isolation \
    -C build-dir="$dir/build" . >"$dir/install.log" 2>&1 || { tail -n 40 "$dir/install.log"; exit 1; }
if grep -q -E 'warning:' "$dir/install.log"; then
    grep -E -A 3 'warning:' "$dir/install.log"
    echo "the build warns, see $dir/install.log"
    exit 1
fi
# Without the wheels, the test modules that import numpy or scipy outright cannot even be collected.
ignore=()
if ! grep -q "^with numpy" "$venv/.zelk-tools"; then
    for module in $(grep -l -E '^(import|from) (numpy|scipy)' tests/python/*.py); do ignore+=(--ignore="$module"); done
    echo "not run for want of numpy and scipy: ${ignore[*]#--ignore=}"
fi
"$venv/bin/python" -m pytest -q -rs -p no:cacheprovider "${ignore[@]}" tests/python 2>&1 | tee "$dir/pytest.log"
exit "${PIPESTATUS[0]}"
