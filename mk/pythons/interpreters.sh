#!/usr/bin/env bash
# The CPythons the project tests and ships wheels for, one line each: NAME|DIR|WHERE|PYTHON, where WHERE is
# "host" or "chroot" (the Debian-unstable chroot in ROOT, which must be ready) and DIR the interpreter's folder
# under build/pythons/; one that cannot be had is a line NAME|skip|REASON.
#
#   interpreters.sh ROOT HOST_PYTHON    HOST_PYTHON: the 3.11 the project's venv was made from
set -uo pipefail

root=$1
host_python=$2
build=build/pythons

echo "3.11 (host)|$build/host-3.11|host|$host_python"
# pyenv's folder, also where its command is not on PATH.
pyenv_root=$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")
for version in 3.12 3.13; do
    installed=$(ls "$pyenv_root/versions" 2>/dev/null | grep -E "^${version//./\\.}\.[0-9]+$" | sort -V | tail -n 1)
    if [ -z "$installed" ]; then
        echo "$version (pyenv)|skip|no CPython $version in $pyenv_root/versions"
    else
        echo "$version (pyenv)|$build/pyenv-$version|host|$pyenv_root/versions/$installed/bin/python$version"
    fi
done
for version in 3.13 3.14 3.15 3.13t; do
    python=/usr/bin/python$version
    [ "$version" = 3.13t ] && python=/opt/python3.13t/bin/python3.13t
    if [ -x "$root$python" ]; then
        echo "$version (Debian unstable)|$build/sid-$version|chroot|$python"
    elif [ "$version" = 3.13t ]; then
        echo "$version (Debian unstable)|skip|its build from Debian's python3.13 source failed, see $root/.zelk/python3.13t.failed"
    else
        echo "$version (Debian unstable)|skip|Debian unstable has no python$version package"
    fi
done
