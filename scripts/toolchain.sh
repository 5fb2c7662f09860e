# Sourced by the scripts in this folder: finds or builds the toolchain
# (CPython 3.14, the default, beside 3.13 and 3.15) and runs commands with it.
#
# A host python3.14 with its headers (or the CPython 3.13 to 3.15 that $PYTHON
# names) is used as it is, once a check has found every tool that the script's work needs. Otherwise
# the toolchain is a Debian testing root built once with debootstrap and kept
# outside the clone, keyed by its package list, so that later runs and CI on
# the same machine reuse it. Commands run inside it by chroot in a private
# mount namespace: /proc, /dev and the checkout are mounted there, and the
# kernel drops every mount when the command ends, whichever way it ends.
#
# A set-up that cannot go on ends with one sentence saying why and what to do
# instead; the tools' own output goes to a log that the sentence names.
#
# VORA_TOOLCHAIN=root uses the root even where the host has an interpreter;
# VORA_TOOLCHAIN_CACHE moves the roots elsewhere; VORA_TOOLCHAIN_MIRROR names
# the Debian mirror to build one from.

TOOLCHAIN_PACKAGES=(
    python3.14 python3.14-dev python3.14-dbg
    python3.13 python3.13-dev python3.15 python3.15-dev python3.15-dbg
    g++ cmake ninja-build python3-scikit-build-core python3-pip
    python3-pytest python3-pytest-xdist python3-hypothesis python3-pytest-benchmark
    python3-tornado mypy valgrind
    chromium chromium-driver python3-selenium python3-html5lib
    python3-build python3-auditwheel patchelf
)

toolchain_key() {
    printf '%s\n' "${TOOLCHAIN_PACKAGES[@]}" | sha256sum | cut -c1-12
}

TOOLCHAIN_CACHE=${VORA_TOOLCHAIN_CACHE:-/var/cache/vora-toolchain}
TOOLCHAIN_ROOT=$TOOLCHAIN_CACHE/root-$(toolchain_key)

toolchain_log() { printf '[toolchain] %s\n' "$*" >&2; }

# Says why the set-up cannot go on, in one sentence, and fails.
toolchain_fail() { toolchain_log "$*"; return 1; }

TOOLCHAIN_WAY_OUT="or install CPython 3.14 with its headers and point PYTHON at it"

# The interpreters the modules are built for; the first is the default.
TOOLCHAIN_VERSIONS=(3.14 3.13 3.15)

# Prints what makes interpreter $1 unusable (nothing when it is CPython 3.13,
# 3.14 or 3.15 with its C headers).
toolchain_python_problem() {
    command -v "$1" >/dev/null 2>&1 || { echo "is not a command"; return; }
    "$1" -c 'import os, platform, sys, sysconfig
if platform.python_implementation() != "CPython" or sys.version_info[:2] not in ((3, 13), (3, 14), (3, 15)):
    print("is %s %s, not CPython 3.13, 3.14 or 3.15" % (platform.python_implementation(), platform.python_version()))
elif not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")):
    print("has no C headers (Python.h)")' 2>/dev/null || echo "does not run"
}

# True when a usable interpreter is on the host: python3.14 (or $PYTHON) with
# its C headers, unless VORA_TOOLCHAIN=root asks for the root. A $PYTHON that
# is not one stops the script: it names the interpreter the caller wants, so
# the root is no substitute.
toolchain_host_python() {
    local problem
    [ "${VORA_TOOLCHAIN:-}" = root ] && return 1
    if [ -n "${PYTHON:-}" ]; then
        problem=$(toolchain_python_problem "$PYTHON")
        [ -z "$problem" ] && return 0
        toolchain_log "PYTHON=$PYTHON $problem: point PYTHON at CPython 3.13, 3.14 or 3.15 with its headers, or unset it to use the toolchain root"
        exit 1
    fi
    [ -z "$(toolchain_python_problem python3.14)" ]
}

# The Debian mirror: $VORA_TOOLCHAIN_MIRROR, else the one the host's own apt
# uses (first "deb" source that is not a security archive).
toolchain_mirror() {
    local uri=${VORA_TOOLCHAIN_MIRROR:-}
    if [ -z "$uri" ]; then
        uri=$(grep -hs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{print $2}' \
            | grep -v security | head -n 1)
    fi
    if [ -z "$uri" ]; then
        uri=$(grep -hs '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
            | awk '{for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; exit}}' \
            | grep -v security | head -n 1)
    fi
    [ -n "$uri" ] && printf '%s\n' "$uri"
}

# True unless mirror $1 surely does not answer (with neither wget nor curl
# on the host, debootstrap finds out).
toolchain_mirror_answers() {
    local url=${1%/}/dists/testing/Release
    if command -v wget >/dev/null 2>&1; then
        wget -q -T 20 -t 2 --spider "$url"
    elif command -v curl >/dev/null 2>&1; then
        curl -fsI --max-time 40 -o /dev/null "$url"
    fi
}

# Waits, saying so, while another process holds apt's or dpkg's lock in the
# system under root $1 (empty: the host). They are fcntl locks, which flock(1)
# cannot test, and apt-get update fails at once on a held one (apt's
# DPkg::Lock::Timeout, passed as well, covers only dpkg's), so lslocks is
# asked. After ten minutes apt is left to fail with its own message.
toolchain_apt_wait() {
    local root=$1 holder waited=0
    command -v lslocks >/dev/null 2>&1 || return 0
    while holder=$(lslocks -n -r -o PID,PATH 2>/dev/null | awk -v root="$root" '
            $2 == root "/var/lib/dpkg/lock-frontend" || $2 == root "/var/lib/dpkg/lock" ||
            $2 == root "/var/lib/apt/lists/lock" || $2 == root "/var/cache/apt/archives/lock" {
                print; exit
            }') && [ -n "$holder" ] && [ $waited -lt 600 ]; do
        [ $waited -gt 0 ] ||
            toolchain_log "waiting for process ${holder%% *} ($(cat "/proc/${holder%% *}/comm" 2>/dev/null)) to release apt's lock ${holder#* }"
        sleep 5
        waited=$((waited + 5))
    done
}

TOOLCHAIN_APT="apt-get -q -o DPkg::Lock::Timeout=600 -o Acquire::Check-Valid-Until=false"

toolchain_build_root() {
    local mirror tmp log=$TOOLCHAIN_ROOT.log cannot="cannot build the toolchain root"
    mirror=$(toolchain_mirror) ||
        toolchain_fail "$cannot: the host's apt sources name no Debian mirror; set VORA_TOOLCHAIN_MIRROR to one, $TOOLCHAIN_WAY_OUT" ||
        return 1
    toolchain_mirror_answers "$mirror" ||
        toolchain_fail "$cannot: the Debian mirror $mirror does not answer; set VORA_TOOLCHAIN_MIRROR to one that does, $TOOLCHAIN_WAY_OUT" ||
        return 1
    : >"$log" || return 1
    toolchain_log "building the toolchain root from $mirror into $TOOLCHAIN_ROOT (a few minutes, once; log: $log)"
    if ! command -v debootstrap >/dev/null 2>&1; then
        toolchain_log "installing debootstrap on the host"
        toolchain_apt_wait ""
        { $TOOLCHAIN_APT update && $TOOLCHAIN_APT install -y debootstrap; } >>"$log" 2>&1 ||
            toolchain_fail "$cannot: apt-get could not install debootstrap on the host (log: $log); install it, $TOOLCHAIN_WAY_OUT" ||
            return 1
    fi
    tmp=$TOOLCHAIN_ROOT.partial
    rm -rf --one-file-system "$tmp"
    toolchain_log "debootstrap testing into $tmp"
    debootstrap --variant=minbase testing "$tmp" "$mirror" \
        /usr/share/debootstrap/scripts/sid >>"$log" 2>&1 ||
        toolchain_fail "$cannot: debootstrap failed (log: $log); fix what the log's last lines say, $TOOLCHAIN_WAY_OUT" ||
        return 1
    printf 'deb %s testing main\n' "$mirror" > "$tmp/etc/apt/sources.list"
    toolchain_log "installing ${#TOOLCHAIN_PACKAGES[@]} packages"
    toolchain_apt_wait "$tmp"
    toolchain_chroot "$tmp" sh -c '
        export DEBIAN_FRONTEND=noninteractive
        apt=$1; shift
        $apt update && $apt install -y --no-install-recommends "$@" && apt-get clean
    ' sh "$TOOLCHAIN_APT" "${TOOLCHAIN_PACKAGES[@]}" >>"$log" 2>&1 ||
        toolchain_fail "$cannot: installing its packages failed (log: $log); fix what the log's last lines say, $TOOLCHAIN_WAY_OUT" ||
        return 1
    mv "$tmp" "$TOOLCHAIN_ROOT"
    toolchain_log "toolchain root ready"
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
    toolchain_host_python && return 0
    [ "$(id -u)" = 0 ] ||
        toolchain_fail "cannot set up the toolchain: this host has no CPython 3.14 with its headers, and the Debian root that stands in for it needs root privileges (debootstrap, chroot); run as root, $TOOLCHAIN_WAY_OUT" ||
        return 1
    [ -e "$TOOLCHAIN_ROOT/usr/bin/python3.14" ] && return 0
    mkdir -p "$TOOLCHAIN_CACHE" 2>/dev/null ||
        toolchain_fail "cannot build the toolchain root: cannot create $TOOLCHAIN_CACHE; set VORA_TOOLCHAIN_CACHE to a folder that can be, $TOOLCHAIN_WAY_OUT" ||
        return 1
    (
        if ! flock -n 9; then
            toolchain_log "waiting for another run that is building the toolchain root"
            flock 9
        fi
        [ -e "$TOOLCHAIN_ROOT/usr/bin/python3.14" ] || toolchain_build_root
    ) 9>"$TOOLCHAIN_CACHE/lock"
}

# Runs "$@" with the toolchain, from the top of the checkout, with PYTHON
# naming the interpreter and VORA_IN_TOOLCHAIN saying which toolchain it is
# (host or root).
toolchain_run() {
    if toolchain_host_python; then
        (cd "$(dirname "${BASH_SOURCE[0]}")/.." &&
            PYTHON=${PYTHON:-python3.14} VORA_IN_TOOLCHAIN=host "$@")
    else
        toolchain_chroot "$TOOLCHAIN_ROOT" \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            PYTHON=python3.14 VORA_IN_TOOLCHAIN=root "$@"
    fi
}

# Prints the version of interpreter $1 as X.Y.
toolchain_version() {
    "$1" -c 'import sys; print("%d.%d" % sys.version_info[:2])'
}

# toolchain_use VERSION: makes $PYTHON (and $PYTHON_DEBUG, its debug build)
# the CPython VERSION, one of TOOLCHAIN_VERSIONS, for what the script runs
# next, and $PYTHON_VERSION that version. The interpreters the script was
# given stay for their own version; another one is pythonVERSION, as Debian
# names it.
toolchain_use() {
    case " ${TOOLCHAIN_VERSIONS[*]} " in
        *" $1 "*) ;;
        *) echo "unknown interpreter: $1 (one of ${TOOLCHAIN_VERSIONS[*]})" >&2; exit 2 ;;
    esac
    if [ -z "${TOOLCHAIN_GIVEN_VERSION:-}" ]; then
        TOOLCHAIN_GIVEN_VERSION=$(toolchain_version "$PYTHON")
        TOOLCHAIN_GIVEN_PYTHON=$PYTHON
        TOOLCHAIN_GIVEN_DEBUG=${PYTHON_DEBUG:-${PYTHON}d}
    fi
    if [ "$1" = "$TOOLCHAIN_GIVEN_VERSION" ]; then
        PYTHON=$TOOLCHAIN_GIVEN_PYTHON PYTHON_DEBUG=$TOOLCHAIN_GIVEN_DEBUG
    else
        PYTHON=python$1 PYTHON_DEBUG=python$1d
    fi
    export PYTHON PYTHON_DEBUG PYTHON_VERSION=$1
}

# toolchain_use_option ARGS...: toolchain_use for the version that a leading
# "--python VERSION" of ARGS names, or the given one without it; sets
# TOOLCHAIN_OPTION_WORDS to the number of words it took, for the script to
# shift.
toolchain_use_option() {
    local version
    version=$(toolchain_given_version)
    TOOLCHAIN_OPTION_WORDS=0
    if [ "${1:-}" = --python ]; then
        [ $# -ge 2 ] || { echo "--python needs a version (${TOOLCHAIN_VERSIONS[*]})" >&2; exit 2; }
        version=$2
        TOOLCHAIN_OPTION_WORDS=2
    fi
    toolchain_use "$version"
}

# The version of $PYTHON as the script was given it: the default of its work.
toolchain_given_version() {
    [ -n "${TOOLCHAIN_GIVEN_VERSION:-}" ] || TOOLCHAIN_GIVEN_VERSION=$(toolchain_version "$PYTHON")
    echo "$TOOLCHAIN_GIVEN_VERSION"
}

# Prints the build folder of variant $1 for $PYTHON_VERSION: build/<variant>
# for 3.14, build/<variant>-<version> for the others (each interpreter has its
# own ABI, and the tests name the 3.14 folders without one).
variant_dir() {
    local version=${PYTHON_VERSION:-$(toolchain_given_version)}
    if [ "$version" = 3.14 ]; then
        echo "build/$1"
    else
        echo "build/$1-$version"
    fi
}

# Called first by each script: unless it already runs with the toolchain,
# sets the toolchain up and runs the script again with it.
toolchain_enter() {
    local script=$1; shift
    [ -n "${VORA_IN_TOOLCHAIN:-}" ] && return 0
    toolchain_ensure
    toolchain_run bash "scripts/$(basename "$script")" "$@"
    exit $?
}

# True when command $1 is there and can run (bash's command -v also finds a
# file without execute permission when no other one is on PATH).
toolchain_has() {
    local path
    path=$(command -v "$1" 2>/dev/null) && [ -x "$path" ]
}

# Prints the modules $2... that interpreter $1 cannot import, in one line.
toolchain_missing_modules() {
    [ $# -gt 1 ] && [ -z "$(toolchain_python_problem "$1")" ] || return 0
    "$1" -c 'import importlib.util, sys
names = {"xdist": "pytest-xdist", "scikit_build_core": "scikit-build-core"}
missing = [names.get(module, module) for module in dict.fromkeys(sys.argv[2:])
           if importlib.util.find_spec(module) is None]
if missing:
    print(", ".join(missing), "for", sys.argv[1])' "$@"
}

# toolchain_check NEED...: with the host's interpreter, checks up front that
# every tool the NEEDs call for is there, and stops naming all that are
# missing, rather than failing on the first of them minutes into a run. The
# root has them all: it is built from TOOLCHAIN_PACKAGES.
#   build         CMake, Ninja and a C++ compiler ($CXX, else c++)
#   debug         the debug interpreter ($PYTHON_DEBUG, else ${PYTHON}d)
#   asan          the compiler's AddressSanitizer and UBSan runtimes
#   pytest        pytest, xdist, hypothesis and tornado for $PYTHON
#   pytest-debug  the same for the debug interpreter
#   valgrind      valgrind
#   wheel         pip, scikit-build-core, venv, build and auditwheel for
#                 $PYTHON, and patchelf (which auditwheel runs)
#   tornado       tornado (the template engine) for $PYTHON
toolchain_check() {
    [ "${VORA_IN_TOOLCHAIN:-}" = host ] || return 0
    local need tool lib problem list missing=() modules=() debug_modules=()
    local cxx=${CXX:-c++} debug=${PYTHON_DEBUG:-${PYTHON}d}
    for need; do
        case $need in
            build)
                problem=$(toolchain_python_problem "$PYTHON")
                [ -z "$problem" ] || missing+=("the interpreter ($PYTHON $problem)")
                for tool in cmake ninja "$cxx"; do
                    toolchain_has "$tool" || missing+=("$tool")
                done ;;
            debug)
                problem=$(toolchain_python_problem "$debug")
                [ -n "$problem" ] || "$debug" -c 'import sys; sys.gettotalrefcount' 2>/dev/null ||
                    problem="is not a debug build"
                [ -z "$problem" ] ||
                    missing+=("the debug interpreter ($debug $problem; PYTHON_DEBUG names another)") ;;
            asan)
                if ! toolchain_has "$cxx"; then
                    missing+=("$cxx")
                else
                    for lib in libasan.so libubsan.so; do
                        [[ $("$cxx" -print-file-name=$lib 2>/dev/null) == /* ]] ||
                            missing+=("$lib for $cxx")
                    done
                fi ;;
            pytest) modules+=(pytest xdist hypothesis tornado) ;;
            pytest-debug) debug_modules+=(pytest xdist hypothesis tornado) ;;
            valgrind) toolchain_has valgrind || missing+=(valgrind) ;;
            wheel)
                modules+=(pip scikit_build_core venv build auditwheel)
                toolchain_has patchelf || missing+=(patchelf) ;;
            tornado) modules+=(tornado) ;;
            *) echo "toolchain_check: unknown need $need" >&2; return 2 ;;
        esac
    done
    list=$({
        printf '%s\n' "${missing[@]}"
        toolchain_missing_modules "$PYTHON" "${modules[@]}"
        toolchain_missing_modules "$debug" "${debug_modules[@]}"
    } | awk 'NF && !seen[$0]++ {printf "%s%s", sep, $0; sep = ", "}')
    [ -z "$list" ] && return 0
    toolchain_log "cannot run with the host's $PYTHON: missing $list; install what is missing, or set VORA_TOOLCHAIN=root to use the toolchain root instead"
    exit 1
}

# What only the aarch64 wheels need: Debian's cross compiler, its arm64
# interpreter headers, qemu, and the arm64 interpreters, unpacked beside the
# root's own (the arm64 standard library installs beside the amd64 one, and
# an interpreter that finds no standard library next to it takes /usr's).
# Installed into the root when the wheels are made rather than with it, so
# that a root for the other work stays a few minutes' set-up.
TOOLCHAIN_ARM64_PACKAGES=(g++-aarch64-linux-gnu qemu-user)
TOOLCHAIN_ARM64=${VORA_ARM64_ROOT:-/opt/vora-arm64}
# The aarch64 cross-builds (the wheels', scripts/build aarch64): CMake's
# toolchain file, relative to the checkout, and the environment in which the
# interpreter that drives a build reports the arm64 one's configuration.
TOOLCHAIN_ARM64_CMAKE=cmake/aarch64-linux-gnu.cmake
TOOLCHAIN_ARM64_ENV=(_PYTHON_HOST_PLATFORM=linux-aarch64
                     _PYTHON_SYSCONFIGDATA_NAME=_sysconfigdata__linux_aarch64-linux-gnu)

# Prints what the aarch64 wheels miss, one item a line.
toolchain_arm64_missing() {
    local version
    toolchain_has aarch64-linux-gnu-g++ || echo "aarch64-linux-gnu-g++ (g++-aarch64-linux-gnu)"
    toolchain_has qemu-aarch64 || echo "qemu-aarch64 (qemu-user)"
    for version in "${TOOLCHAIN_VERSIONS[@]}"; do
        [ -e "/usr/include/aarch64-linux-gnu/python$version/pyconfig.h" ] ||
            echo "the arm64 headers of Python $version (libpython$version-dev:arm64)"
        [ -e "$TOOLCHAIN_ARM64/usr/bin/python$version" ] ||
            echo "the arm64 interpreter $TOOLCHAIN_ARM64/usr/bin/python$version (python$version-minimal:arm64, unpacked)"
    done
}

# Makes sure that everything the aarch64 wheels need is there: in the root it
# installs what is missing (idempotent; two runs take turns); with the host's
# interpreter it stops naming what is missing.
toolchain_arm64_ensure() {
    local missing log=/var/log/vora-arm64.log version deb packages=()
    missing=$(toolchain_arm64_missing)
    [ -n "$missing" ] || return 0
    if [ "${VORA_IN_TOOLCHAIN:-}" != root ]; then
        toolchain_log "cannot make the aarch64 wheels with the host's $PYTHON: missing $(echo "$missing" | paste -sd, | sed 's/,/, /g'); install them (VORA_ARM64_ROOT names where the arm64 interpreters are unpacked), or set VORA_TOOLCHAIN=root to use the toolchain root instead"
        exit 1
    fi
    (
        if ! flock -n 9; then
            toolchain_log "waiting for another run that is installing the aarch64 tools"
            flock 9
        fi
        [ -n "$(toolchain_arm64_missing)" ] || exit 0
        toolchain_log "installing the aarch64 cross compiler, qemu and arm64 interpreters into the root (once; log: $log)"
        : >"$log"
        for version in "${TOOLCHAIN_VERSIONS[@]}"; do
            packages+=("libpython$version-dev:arm64")
        done
        dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64
        toolchain_apt_wait ""
        {
            export DEBIAN_FRONTEND=noninteractive
            $TOOLCHAIN_APT update &&
                $TOOLCHAIN_APT install -y --no-install-recommends \
                    "${TOOLCHAIN_ARM64_PACKAGES[@]}" "${packages[@]}" &&
                mkdir -p "$TOOLCHAIN_ARM64/debs" &&
                (cd "$TOOLCHAIN_ARM64/debs" && for version in "${TOOLCHAIN_VERSIONS[@]}"; do
                    $TOOLCHAIN_APT download "python$version-minimal:arm64" || exit 1
                done) &&
                for deb in "$TOOLCHAIN_ARM64"/debs/*.deb; do
                    dpkg-deb -x "$deb" "$TOOLCHAIN_ARM64" || exit 1
                done &&
                rm -rf "$TOOLCHAIN_ARM64/debs" && apt-get clean
        } >>"$log" 2>&1 ||
            toolchain_fail "cannot install the aarch64 tools into the root (log: $log); fix what the log's last lines say" ||
            exit 1
    ) 9>/var/lib/vora-arm64.lock || exit 1
}

# Two runs in one checkout (two terminals, CI next to a developer) share
# build/<variant>. Two builds in one folder corrupt each other's objects, and
# a build that replaces a module which another run's tests have loaded crashes
# them or has them test a mix. So each variant has a lock, build/<variant>.lock:
# a build holds it exclusively, a run that loads the variant's modules holds
# it shared until it ends. Builds wait for running tests and tests for running
# builds; runs of tests share. flock releases a lock when the last process
# that holds its file open ends, however it ends.
# variant_lock -s|-x VARIANT...: takes the locks of the variants' folders for
# $PYTHON_VERSION, on descriptors that stay open until the shell (and every
# child that inherited them) ends.
variant_lock() {
    local how=$1 variant dir fd
    shift
    mkdir -p build
    for variant; do
        dir=$(variant_dir "$variant")
        exec {fd}>>"$dir.lock"
        if ! flock -n "$how" "$fd"; then
            toolchain_log "$dir is in use by another run; waiting for it"
            flock "$how" "$fd"
        fi
    done
}
