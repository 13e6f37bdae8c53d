#!/usr/bin/env bash
# Builds the project for one interpreter, in a venv and a build folder of its own, and runs the pytest suite.
#
#   test-one.sh DIR PYTHON    DIR: that interpreter's folder under build/; run from the work tree
#
# The venv is made once; numpy and scipy come as wheels only, and where there are none the tests that
# need them skip. The last line of DIR/pytest.log is pytest's summary.
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

# The build tools are the venv's own, so no build environment is downloaded on every run.
"$venv/bin/python" -m pip install "${quiet[@]}" --no-build-isolation -C build-dir="$dir/build" . >"$dir/install.log" 2>&1 ||
    { tail -n 40 "$dir/install.log"; exit 1; }
"$venv/bin/python" -m pytest -q -rs -p no:cacheprovider tests/python 2>&1 | tee "$dir/pytest.log"
exit "${PIPESTATUS[0]}"
