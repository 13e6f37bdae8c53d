#!/usr/bin/env bash
# Builds the cp311 x86-64 wheel again, from a copy of the tree in another folder, and compares it with the one
# in WHEELDIR byte for byte: no build folder, source path or build time may reach a released file.
#
#   reproducible.sh VENV WHEELDIR    run from the work tree after release.sh; VENV: the project's venv
set -euo pipefail

venv=$1
wheels=$2
copy=$PWD/build/reproducible
zig=$(mk/wheels/zig.sh "$venv")
python=$PWD/build/pythons/host-3.11/build-venv/bin/python
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

released=$(ls "$wheels"/zelk-*-cp311-cp311-*x86_64.whl)
rm -rf "$copy"
mkdir -p "$copy/tree"
# The files git knows, as they are in the work tree (edits included).
git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$copy/tree"
# Every file compiled afresh: a compiler cache would hand the second build the first one's objects, and so
# hide a path that reached them. The same zig and its cache (build-one.sh finds it beside zig): the runtime it holds is built from zig's
# sources, not this tree's.
(cd "$copy/tree" && CCACHE_DISABLE=1 mk/wheels/build-one.sh build/again "$python" x86_64 "$zig" /lib/x86_64-linux-gnu/libgcc_s.so.1 \
    >/dev/null && mk/wheels/repair.sh build/again/wheel-x86_64/*.whl x86_64 "$copy/repaired" "$venv" >/dev/null)
again=$(ls "$copy"/repaired/*.whl)
if ! cmp -s "$released" "$again"; then
    echo "$(basename "$released"): a second build in $copy/tree gives other bytes:" >&2
    "$venv/bin/python" - "$released" "$again" <<'PY' >&2
import sys, zipfile
a, b = (zipfile.ZipFile(p) for p in sys.argv[1:])
for info in a.infolist():
    other = b.getinfo(info.filename)
    if (a.read(info), info.date_time, info.external_attr) != (b.read(other), other.date_time, other.external_attr):
        print("  differs:", info.filename)
PY
    exit 1
fi
echo "$(basename "$released"): the same bytes when built in another folder ($(sha256sum "$released" | cut -c1-16))"
