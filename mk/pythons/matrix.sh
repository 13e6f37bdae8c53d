#!/usr/bin/env bash
# The release wheel of every CPython at hand, each built for glibc 2.17 with zig, repaired and put through the
# release checks, then run against the pytest suite in a venv of its own interpreter: 3.11 (the interpreter of
# the project's venv), 3.12 and 3.13 from pyenv, and 3.14, 3.15 and the free-threaded 3.13t from a
# Debian-unstable chroot kept in ROOT (built on first use; its 3.13 too where pyenv has none). Every wheel must
# give the same bits (mk/wheels/bits.py) as the development build. One interpreter that cannot be had is
# skipped with a line saying why; the run fails if a build, a check or the suite fails on any.
#
#   matrix.sh ROOT VENV [PART]    run from the work tree; VENV: the project's venv; PART: host (the host's
#                                 interpreters), chroot (the chroot's, building it first) or all (the default,
#                                 the chroot built meanwhile)
set -uo pipefail
shopt -s nullglob

root=$1
venv=$2
part=${3:-all}
here=$(dirname "$0")
build=build/pythons
summary=()
failed=0
zig=$(mk/wheels/zig.sh "$venv")
libgcc_s=/lib/x86_64-linux-gnu/libgcc_s.so.1
host_python=$("$venv/bin/python" -c 'import sys; print(sys._base_executable)')
# The wheels carry the commit's time (see mk/wheels/build-one.sh); the chroot has no git to ask.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}

skip() {  # skip NAME REASON
    echo "== $1: skipped: $2"
    summary+=("$1: skipped: $2")
}

# where WHERE CMD...: runs CMD on the host or in the chroot, in the work tree.
where() {
    if [ "$1" = chroot ]; then "$here/chroot.sh" "$root" run "$PWD" "${@:2}"; else "${@:2}"; fi
}

one() {  # one DIR WHERE PYTHON
    local dir=$1 at=$2 python=$3 wheel
    # No wheel of an earlier version may linger beside the new one.
    rm -rf "$dir/repaired-x86_64"
    where "$at" "$here/test-one.sh" build "$dir" "$python" "$zig" "$libgcc_s" &&
        wheel=$(mk/wheels/repair.sh "$dir"/wheel-x86_64/*.whl x86_64 "$dir/repaired-x86_64" "$venv") &&
        where "$at" "$here/test-one.sh" test "$dir" "$python" "$wheel"
}

ran=()
run() {  # run NAME DIR WHERE PYTHON
    local name=$1 dir=$2 start=$SECONDS
    ran+=("$dir")
    echo "== $name"
    mkdir -p "$dir"
    rm -f "$dir/pytest.log" "$dir/bits.txt"
    if one "$dir" "$3" "$4"; then
        summary+=("$name: $(tail -n 1 "$dir/pytest.log") ($((SECONDS - start)) s in all)")
    else
        failed=1
        summary+=("$name: FAILED: $(tail -n 1 "$dir/pytest.log" 2>/dev/null) ($((SECONDS - start)) s in all)")
    fi
}

# The chroot is made ready (mostly downloads when cold), while the host's interpreters run where there are.
mkdir -p "$build"
if [ "$part" != host ]; then
    "$here/chroot.sh" "$root" ensure >"$build/chroot.log" 2>&1 &
    chroot_ready=$!
fi

if [ "$part" != chroot ]; then
    while IFS='|' read -r name dir at python; do
        if [ "$dir" = skip ]; then skip "$name" "$at"; else run "$name" "$dir" "$at" "$python"; fi
    done < <("$here/interpreters.sh" "$root" "$host_python" | grep '|host|')
fi

if [ "$part" != host ]; then
    wait $chroot_ready
    chroot_status=$?
    cat "$build/chroot.log"
    if [ $chroot_status -ne 0 ]; then
        for version in 3.13 3.14 3.15 3.13t; do
            skip "$version (Debian unstable)" "the chroot $root could not be built (see above)"
        done
    else
        ready=$(grep '^chroot .* ready after' "$build/chroot.log") && summary+=("$ready")
        interpreters=$("$here/interpreters.sh" "$root" "$host_python")
        while IFS='|' read -r name dir at python; do
            if [ "$dir" = skip ]; then
                skip "$name" "$at"
            elif [ "$name" = "3.13 (Debian unstable)" ] && grep -q '^3\.13 (pyenv)|[^|]*|host|' <<<"$interpreters"; then
                # One cp313 wheel is released (mk/wheels/release.sh): the host's 3.13 tests it, and a second
                # build for Debian's 3.13 would cost a first run about five minutes for the same ABI.
                skip "$name" "the same ABI as 3.13 (pyenv), whose wheel the host's lane tests; make dist releases one cp313 wheel"
            else
                run "$name" "$dir" "$at" "$python"
            fi
        done < <(grep -v '|host|' <<<"$interpreters")
    fi
fi

# The same bits from every wheel of this run, and from the development build.
"$venv/bin/python" mk/wheels/bits.py >"$build/bits-$part.txt"
for dir in "${ran[@]}"; do
    [ -f "$dir/bits.txt" ] || continue
    while read -r front hash; do
        if ! grep -q -x "$front $hash" "$build/bits-$part.txt"; then
            failed=1
            summary+=("$dir: $front gives other bits than the development build")
        fi
    done <"$dir/bits.txt"
done
summary+=("bits of every wheel as of the development build: $(tr '\n' ' ' <"$build/bits-$part.txt")")

echo "== the release wheel on each CPython:"
printf '   %s\n' "${summary[@]}"
exit $failed
