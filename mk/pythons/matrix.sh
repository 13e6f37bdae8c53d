#!/usr/bin/env bash
# The pytest suite on every CPython at hand besides the main 3.11: 3.12 and 3.13 from pyenv, and 3.13, 3.14,
# 3.15 and the free-threaded 3.13t from a Debian-unstable chroot kept in ROOT (built on first use).
# One that cannot be had is skipped with a line saying why; the run fails if the suite fails on any.
#
#   matrix.sh ROOT            run from the work tree
set -uo pipefail

root=$1
here=$(dirname "$0")
build=build/pythons
summary=()
failed=0

skip() {  # skip NAME REASON
    echo "== $1: skipped: $2"
    summary+=("$1: skipped: $2")
}

run() {  # run NAME DIR CMD...
    local name=$1 dir=$2 start=$SECONDS
    shift 2
    echo "== $name"
    mkdir -p "$dir"
    rm -f "$dir/pytest.log"
    if "$@"; then
        summary+=("$name: $(tail -n 1 "$dir/pytest.log") ($((SECONDS - start)) s in all)")
    else
        failed=1
        summary+=("$name: FAILED: $(tail -n 1 "$dir/pytest.log" 2>/dev/null) ($((SECONDS - start)) s in all)")
    fi
}

# The chroot is made ready (mostly downloads when cold) while the pyenv interpreters run.
mkdir -p "$build"
"$here/chroot.sh" "$root" ensure >"$build/chroot.log" 2>&1 &
chroot_ready=$!

# pyenv's folder, also where its command is not on PATH.
pyenv_root=$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")
for version in 3.12 3.13; do
    name="$version (pyenv)"
    installed=$(ls "$pyenv_root/versions" 2>/dev/null | grep -E "^${version//./\\.}\.[0-9]+$" | sort -V | tail -n 1)
    if [ -z "$installed" ]; then
        skip "$name" "no CPython $version in $pyenv_root/versions"
        continue
    fi
    run "$name" "$build/pyenv-$version" \
        "$here/test-one.sh" "$build/pyenv-$version" "$pyenv_root/versions/$installed/bin/python$version"
done

wait $chroot_ready
chroot_status=$?
cat "$build/chroot.log"
if [ $chroot_status -ne 0 ]; then
    for version in 3.13 3.14 3.15 3.13t; do
        skip "$version (Debian unstable)" "the chroot $root could not be built (see above)"
    done
else
    ready=$(grep '^chroot .* ready after' "$build/chroot.log") && summary+=("$ready")
    for version in 3.13 3.14 3.15 3.13t; do
        name="$version (Debian unstable)"
        python=/usr/bin/python$version
        [ "$version" = 3.13t ] && python=/opt/python3.13t/bin/python3.13t
        if [ ! -x "$root$python" ]; then
            if [ "$version" = 3.13t ]; then
                skip "$name" "its build from Debian's python3.13 source failed, see $root/.zelk/python3.13t.failed"
            else
                skip "$name" "Debian unstable has no python$version package"
            fi
            continue
        fi
        run "$name" "$build/sid-$version" \
            "$here/chroot.sh" "$root" run "$PWD" "$here/test-one.sh" "$build/sid-$version" "$python"
    done
fi

echo "== the suite on each CPython:"
printf '   %s\n' "${summary[@]}"
exit $failed
