# Sourced by the scripts in this folder: finds or builds the CPython 3.14
# toolchain and runs commands with it.
#
# A host python3.14 with its headers (or the one $PYTHON names) is used as it
# is. Otherwise the toolchain is a Debian testing root built once with
# debootstrap and kept outside the clone, keyed by its package list, so that
# later runs and CI on the same machine reuse it. Commands run inside it by
# chroot in a private mount namespace: /proc, /dev and the checkout are
# mounted there, and the kernel drops every mount when the command ends,
# whichever way it ends.

TOOLCHAIN_PACKAGES=(
    python3.14 python3.14-dev python3.14-dbg
    g++ cmake ninja-build python3-scikit-build-core python3-pip
    python3-pytest python3-pytest-xdist python3-hypothesis python3-pytest-benchmark
    python3-tornado mypy valgrind
    chromium chromium-driver python3-selenium python3-html5lib
)

toolchain_key() {
    printf '%s\n' "${TOOLCHAIN_PACKAGES[@]}" | sha256sum | cut -c1-12
}

TOOLCHAIN_CACHE=${VORA_TOOLCHAIN_CACHE:-/var/cache/vora-toolchain}
TOOLCHAIN_ROOT=$TOOLCHAIN_CACHE/root-$(toolchain_key)

toolchain_log() { printf '[toolchain] %s\n' "$*" >&2; }

# True when a usable interpreter is on the host: python3.14 (or $PYTHON) with
# its C headers.
toolchain_host_python() {
    local py=${PYTHON:-python3.14}
    command -v "$py" >/dev/null 2>&1 || return 1
    "$py" -c 'import sys, sysconfig, os
sys.exit(not (sys.version_info[:2] == (3, 14) and
    os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h"))))' 2>/dev/null
}

# The Debian mirror the host's own apt uses (first "deb" source that is not
# a security archive).
toolchain_mirror() {
    local uri
    uri=$(grep -hs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{print $2}' \
        | grep -v security | head -n 1)
    if [ -z "$uri" ]; then
        uri=$(grep -hs '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
            | awk '{for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; exit}}' \
            | grep -v security | head -n 1)
    fi
    [ -n "$uri" ] || { toolchain_log "no Debian mirror found in the host's apt sources"; return 1; }
    printf '%s\n' "$uri"
}

toolchain_build_root() {
    local mirror tmp
    mirror=$(toolchain_mirror) || return 1
    if ! command -v debootstrap >/dev/null 2>&1; then
        toolchain_log "installing debootstrap on the host"
        apt-get update -q >&2 && apt-get install -y -q debootstrap >&2 || return 1
    fi
    tmp=$TOOLCHAIN_ROOT.partial
    rm -rf "$tmp"
    toolchain_log "debootstrap testing from $mirror into $tmp"
    debootstrap --variant=minbase testing "$tmp" "$mirror" \
        /usr/share/debootstrap/scripts/sid >&2 || return 1
    printf 'deb %s testing main\n' "$mirror" > "$tmp/etc/apt/sources.list"
    toolchain_log "installing ${#TOOLCHAIN_PACKAGES[@]} packages"
    toolchain_chroot "$tmp" sh -c '
        export DEBIAN_FRONTEND=noninteractive
        apt-get -o Acquire::Check-Valid-Until=false update -q &&
        apt-get -o Acquire::Check-Valid-Until=false install -y -q --no-install-recommends "$@" &&
        apt-get clean' sh "${TOOLCHAIN_PACKAGES[@]}" >&2 || return 1
    mv "$tmp" "$TOOLCHAIN_ROOT"
}

# Runs "$@" chrooted into root $1 with /proc, /dev and the checkout (at the
# same path) mounted, in a mount namespace of its own.
toolchain_chroot() {
    local root=$1; shift
    local top
    top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    unshare --mount --propagation private -- /bin/sh -euc '
        root=$1 top=$2; shift 2
        mount -t proc proc "$root/proc"
        mount --rbind /dev "$root/dev"
        mkdir -p "$root$top" "$root/tmp"
        mount --bind "$top" "$root$top"
        [ -d "$top/../shared" ] && mkdir -p "$root$top/../shared" &&
            mount --bind "$top/../shared" "$root$top/../shared"
        cp -L /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
        cd "$root$top"
        exec chroot "$root" /usr/bin/env -C "$top" HOME=/root "$@"
    ' sh "$root" "$top" "$@"
}

# Makes sure the toolchain exists; safe to call every time.
toolchain_ensure() {
    if toolchain_host_python; then
        return 0
    fi
    [ -e "$TOOLCHAIN_ROOT/usr/bin/python3.14" ] && return 0
    mkdir -p "$TOOLCHAIN_CACHE"
    (
        flock 9
        [ -e "$TOOLCHAIN_ROOT/usr/bin/python3.14" ] || toolchain_build_root
    ) 9>"$TOOLCHAIN_CACHE/lock"
}

# Runs "$@" with the toolchain, from the top of the checkout, with PYTHON
# naming the interpreter and VORA_IN_TOOLCHAIN=1.
toolchain_run() {
    if toolchain_host_python; then
        (cd "$(dirname "${BASH_SOURCE[0]}")/.." &&
            PYTHON=${PYTHON:-python3.14} VORA_IN_TOOLCHAIN=1 "$@")
    else
        toolchain_chroot "$TOOLCHAIN_ROOT" \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            PYTHON=python3.14 VORA_IN_TOOLCHAIN=1 "$@"
    fi
}

# Called first by each script: unless it already runs with the toolchain,
# sets the toolchain up and runs the script again with it.
toolchain_enter() {
    local script=$1; shift
    [ "${VORA_IN_TOOLCHAIN:-}" = 1 ] && return 0
    toolchain_ensure
    toolchain_run bash "scripts/$(basename "$script")" "$@"
    exit $?
}
