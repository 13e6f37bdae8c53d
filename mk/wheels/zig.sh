#!/usr/bin/env bash
# The zig that builds the wheels and the macOS modules: the project venv's ziglang, copied once per version
# to ZELK_ZIG_HOME (/var/cache/zelk/zig), with zig's cache beside it (HOME/zig-cache, which build-one.sh
# finds there). zig keys its cache of the C++ runtime and C library stubs that it builds for each target by
# the path of its own library: the venv's copy, new in each clone, would build them again every time (about
# 80 s of CPU per target). Where ZELK_ZIG_HOME cannot be written, the venv's zig is used as it is.
#
#   zig.sh VENV     prints the zig executable
set -euo pipefail

venv=$1
package=$("$venv/bin/python" -c 'import os, ziglang; print(os.path.dirname(ziglang.__file__))')
version=$("$venv/bin/python" -c 'import importlib.metadata as md; print(md.version("ziglang"))')
home=${ZELK_ZIG_HOME:-/var/cache/zelk/zig}
if ! { mkdir -p "$home/zig-cache" && [ -w "$home" ]; } 2>/dev/null; then
    echo "$package/zig"
    exit
fi
if [ ! -x "$home/ziglang-$version/zig" ]; then
    copy=$(mktemp -d "$home/.copy.XXXXXX")
    cp -a "$package" "$copy/ziglang-$version"
    # Another run may have put its copy in place meanwhile: then that one stays.
    mv -T "$copy/ziglang-$version" "$home/ziglang-$version" 2>/dev/null || true
    rm -rf "$copy"
fi
echo "$home/ziglang-$version/zig"
