#!/usr/bin/env bash
# The Debian-unstable chroot that carries the CPythons the host lacks: built on first use, entered with private mounts.
#
#   chroot.sh ROOT ensure        build what is missing (each step once; nothing to do when all is there)
#   chroot.sh ROOT run DIR CMD   run CMD inside, in DIR, which is bound at the same path (the work tree)
#
# Every mount is made in a mount namespace of its own, so that no mount outlives the command, even when it
# is killed; the trap unmounts them all the same. The chroot is only ever removed with --one-file-system.
set -euo pipefail

root=$1
action=$2
shift 2
state=$root/.zelk
mirror=${ZELK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
# The archive here is a dated copy, whose Release files have expired.
apt_options=(-o Acquire::Check-Valid-Until=false -o DPkg::Lock::Timeout=900 -q -y)
# What builds the module and the free-threaded interpreter; then each CPython that the archive has.
packages=(g++ make dpkg-dev xz-utils pkg-config libssl-dev zlib1g-dev libffi-dev libbz2-dev liblzma-dev ccache)
versions=(3.13 3.14 3.15)
free_threaded=/opt/python3.13t

mounted_below_root() {
    awk -v root="$(realpath -m "$root")" '$5 == root || index($5, root "/") == 1 { found = 1 } END { exit !found }' \
        /proc/self/mountinfo
}

# Runs in the private mount namespace: binds what the command needs, runs it, unmounts.
mounts=()
bound() {
    local dir=$1
    shift
    trap 'for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -R "${mounts[i]}" || umount -l "${mounts[i]}"; done' EXIT
    bind() { mkdir -p "$2" && mount --rbind "$1" "$2" && mounts+=("$2"); }
    bind /proc "$root/proc"
    bind /dev "$root/dev"
    [ -n "$dir" ] && bind "$dir" "$root$dir"
    # The wheels' zig and its cache, kept outside the tree (mk/wheels/zig.sh), at the same path.
    local zig_home=${ZELK_ZIG_HOME:-/var/cache/zelk/zig}
    [ -z "$dir" ] || [ ! -d "$zig_home" ] || bind "$zig_home" "$root$zig_home"
    cp -L /etc/resolv.conf "$root/etc/resolv.conf"
    # pip reaches the index through the host's certificate authorities.
    local ca=${PIP_CERT:-/etc/ssl/certs/ca-certificates.crt}
    [ -f "$ca" ] && cp -L "$ca" "$root/etc/zelk-ca.crt"
    chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TMPDIR=/tmp \
        DEBIAN_FRONTEND=noninteractive PIP_CERT=/etc/zelk-ca.crt PIP_DISABLE_PIP_VERSION_CHECK=1 \
        PIP_DEFAULT_TIMEOUT=180 ${SOURCE_DATE_EPOCH:+SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH} \
        ${CCACHE_BASEDIR:+CCACHE_BASEDIR=$CCACHE_BASEDIR} ${CCACHE_NOHASHDIR:+CCACHE_NOHASHDIR=$CCACHE_NOHASHDIR} \
        ${CCACHE_DISABLE:+CCACHE_DISABLE=$CCACHE_DISABLE} ${http_proxy:+http_proxy=$http_proxy} ${https_proxy:+https_proxy=$https_proxy} \
        /bin/sh -c 'cd "${0:-/}" && exec "$@"' "$dir" "$@"
}

inside() {  # inside DIR CMD...
    unshare --mount --propagation private -- "$0" "$root" bound "$@"
}

ensure_base() {
    [ -f "$state/base" ] && return
    if [ -e "$root" ]; then
        if mounted_below_root; then
            echo "$root: something is still mounted below it; not removing it" >&2
            return 1
        fi
        rm -rf --one-file-system "$root"
    fi
    if ! command -v debootstrap >/dev/null; then
        echo "installing debootstrap"
        # The package lists may be missing or stale: only the install of another package would have fetched them.
        apt-get update -qq -o DPkg::Lock::Timeout=900 &&
            apt-get -o DPkg::Lock::Timeout=900 install -y -qq debootstrap >/dev/null
    fi
    echo "debootstrap sid into $root"
    # debootstrap mounts /proc and /sys in the target; the namespace drops them should it be killed.
    unshare --mount --propagation private -- debootstrap --variant=minbase sid "$root" "$mirror" >"$root.log" 2>&1 ||
        { tail -n 20 "$root.log" >&2; return 1; }
    cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror sid main
deb-src $mirror forky main
deb-src $mirror trixie main
EOF
    echo 'Acquire::Check-Valid-Until "false";' >"$root/etc/apt/apt.conf.d/99zelk"
    mkdir -p "$state"
    touch "$state/base"
}

ensure_packages() {
    local wanted="${packages[*]} / ${versions[*]}" apt="apt-get ${apt_options[*]}"
    [ "$(cat "$state/packages" 2>/dev/null)" = "$wanted" ] && return
    echo "installing g++ and CPython ${versions[*]} into $root"
    # dpkg --configure -a finishes an install that was interrupted.
    inside "" sh -c "dpkg --configure -a && $apt update && $apt install --no-install-recommends ${packages[*]} &&
        for v in ${versions[*]}; do $apt install --no-install-recommends python\$v-dev python\$v-venv || true; done" \
        >"$state/packages.log" 2>&1 || { tail -n 20 "$state/packages.log" >&2; return 1; }
    echo "$wanted" >"$state/packages"
}

# Debian ships no free-threaded interpreter; its python3.13 source builds one, without Debian's patches,
# whose site.py would look for a venv's packages in lib/python3.13 where the build puts lib/python3.13t.
# A failed build is not retried on every run: its log stays in $state; removing python3.13t.failed retries.
# OPT drops configure's default -g and -O3, which only lengthen the compile of an interpreter built for the suite.
ensure_free_threaded() {
    if [ -f "$state/python3.13t" ] || [ -f "$state/python3.13t.failed" ]; then return; fi
    echo "building the free-threaded CPython 3.13t from Debian's python3.13 source (some minutes)"
    if ! inside "" sh -c "rm -rf /opt/src && mkdir -p /opt/src && cd /opt/src &&
            apt-get ${apt_options[*]} source --download-only python3.13 &&
            dpkg-source -x --skip-patches python3.13_*.dsc python3.13t && cd python3.13t &&
            OPT='-DNDEBUG -fwrapv -O2' ./configure -q --disable-gil --prefix=$free_threaded --with-ensurepip=no \
                --disable-test-modules &&
            make -s -j$(nproc) && make -s altinstall && cd / && rm -rf /opt/src" >"$state/python3.13t.log" 2>&1; then
        mv "$state/python3.13t.log" "$state/python3.13t.failed"
        tail -n 20 "$state/python3.13t.failed" >&2
    else
        touch "$state/python3.13t"
    fi
}

case $action in
ensure)
    mkdir -p "$(dirname "$root")"
    exec 9>"$root.lock"
    flock 9
    start=$SECONDS
    ensure_base
    ensure_packages
    ensure_free_threaded
    [ $((SECONDS - start)) -lt 5 ] || echo "chroot $root ready after $((SECONDS - start)) s"
    ;;
run)
    # Shared: runs may overlap, but not with a build.
    exec 9>"$root.lock"
    flock -s 9
    inside "$@"
    ;;
bound) bound "$@" ;;
*)
    echo "usage: $0 ROOT ensure | $0 ROOT run DIR CMD..." >&2
    exit 2
    ;;
esac
