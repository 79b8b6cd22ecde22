#!/usr/bin/env bash
# Runs one command as root inside a throwaway root so that a test can use the
# tool's fixed paths (/var/maint, /var/log/maint, /tftpboot, /tmp/maint_zor,
# /etc/inittab, /etc/logrotate.d, /root/.rpmdb) without touching the host.
#
# Usage:
#   sandbox.sh [--share HOSTDIR] [--rpm-tripwire VERSION|none] [--bind HOSTPATH]...
#              [--timeout SECONDS] -- COMMAND [ARGS...]
#   sandbox.sh --check        exit 0 when a sandbox can be built here, else 77
#
# What the command sees:
#   - an overlay of / whose upper layer is a tmpfs: every write is dropped at exit;
#   - /dev, /proc, /sys of the host (recursive binds), a fresh tmpfs on /tmp;
#   - the source tree (the directory two levels above this script), the build
#     directory and each --bind path, bound read-write at their own paths;
#   - HOSTDIR bound read-write at /share, the working directory (else /);
#   - HOME=/root, a fixed PATH, stdin from /dev/null, an otherwise empty
#     environment apart from DM_SOURCE_DIR, DM_BINARY_DIR and DM_APPLYKESTRO;
#   - passwd, group, shadow and gshadow resolved from files only (the systemd
#     NSS module crashes tripwire on ids without a name);
#   - with --rpm-tripwire VERSION, an rpm database in /root/.rpmdb that holds
#     the files-less package tripwire-VERSION-2.noarch (tests/fixtures/rpm).
#     The default is none: rpm -q tripwire then answers "not installed".
#   - with --timeout, the command is ended by timeout(1) after SECONDS
#     (status 124); the leak report below is still written.
#
# The build directory is $DM_BINARY_DIR when set, else the first --bind path
# that holds a CMakeCache.txt. The built stand-in packages are cached in its
# fixtures/rpm/ directory; without a build directory they are rebuilt per run.
#
# After the command, still inside, any mount under /tftpboot, /tmp (other
# than the sandbox's own /tmp) or /var/maint and any loop device backed by a
# file the sandbox wrote is listed in /share/.sandbox-leaks (empty when
# clean; on stderr when there is no share) and then unmounted or detached.
#
# Exit status: the command's; 77 when this machine cannot host a sandbox
# (not root, no unshare, no overlay, no loop device), with the reason on
# stderr; 2 for a usage error; 125 when the sandbox could not be set up.
set -euo pipefail

here=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)
source_dir=$(cd "$here/../.." && pwd)

usage() {
    echo "usage: sandbox.sh [--share HOSTDIR] [--rpm-tripwire VERSION|none] [--bind HOSTPATH]... [--timeout SECONDS] -- COMMAND [ARGS...]" >&2
    exit 2
}

skip() {
    echo "sandbox unavailable: $*" >&2
    exit 77
}

share=""
rpm_version="none"
timeout_seconds=""
check_only=0
binds=()
while [ $# -gt 0 ]; do
    case "$1" in
        --share) [ $# -ge 2 ] || usage; share=$2; shift 2 ;;
        --rpm-tripwire) [ $# -ge 2 ] || usage; rpm_version=$2; shift 2 ;;
        --bind) [ $# -ge 2 ] || usage; binds+=("$2"); shift 2 ;;
        --timeout) [ $# -ge 2 ] || usage; timeout_seconds=$2; shift 2 ;;
        --check) check_only=1; shift ;;
        --) shift; break ;;
        *) usage ;;
    esac
done
if [ "$check_only" = 0 ] && [ $# -eq 0 ]; then
    usage
fi

# rpm versions may not hold '-'; keep the text safe for a file name too.
if [ "$rpm_version" != none ] && ! [[ "$rpm_version" =~ ^[A-Za-z0-9._+~]+$ ]]; then
    echo "sandbox.sh: bad --rpm-tripwire version: $rpm_version" >&2
    exit 2
fi
if [ -n "$timeout_seconds" ] && ! [[ "$timeout_seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "sandbox.sh: bad --timeout: $timeout_seconds" >&2
    exit 2
fi

# What this machine must offer.
[ "$(id -u)" = 0 ] || skip "not running as root"
for tool in unshare chroot mount umount losetup timeout setsid flock; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done
if ! grep -qw overlay /proc/filesystems; then
    modprobe -q overlay 2>/dev/null || true
    grep -qw overlay /proc/filesystems || skip "the kernel has no overlay filesystem"
fi
unshare --mount --propagation private true 2>/dev/null ||
    skip "cannot make a private mount namespace"
[ -e /dev/loop-control ] || skip "no /dev/loop-control"
losetup -f >/dev/null 2>&1 || skip "no free loop device"
if [ "$rpm_version" != none ]; then
    command -v rpm >/dev/null 2>&1 || skip "rpm is not installed"
    command -v rpmbuild >/dev/null 2>&1 || skip "rpmbuild is not installed"
fi

# The build directory, bound like the source tree and home of the rpm cache.
build_dir="${DM_BINARY_DIR:-}"
if [ -z "$build_dir" ]; then
    for path in "${binds[@]}"; do
        if [ -f "$path/CMakeCache.txt" ]; then
            build_dir=$path
            break
        fi
    done
fi
if [ -n "$build_dir" ]; then
    [ -d "$build_dir" ] || { echo "sandbox.sh: no build directory $build_dir" >&2; exit 125; }
    build_dir=$(cd "$build_dir" && pwd -P)
fi
if [ -n "$share" ]; then
    [ -d "$share" ] || { echo "sandbox.sh: no share directory $share" >&2; exit 125; }
    share=$(cd "$share" && pwd -P)
fi
for i in "${!binds[@]}"; do
    [ -e "${binds[$i]}" ] || { echo "sandbox.sh: no such path to bind: ${binds[$i]}" >&2; exit 125; }
    binds[$i]=$(readlink -f "${binds[$i]}")
done

# The mount point of the sandbox's tmpfs; the namespace hides it from the host.
base=$(mktemp -d "${TMPDIR:-/tmp}/dm-sandbox.XXXXXX")
trap 'rmdir "$base" 2>/dev/null || true' EXIT

if [ "$check_only" = 1 ]; then
    set -- true
fi
# The namespace's first process ends up as sandbox-inside.sh (each stage
# execs the next); a signal to this script is passed on to it, so that the
# command is stopped and the leak report still written.
SB_BASE=$base SB_SOURCE=$source_dir SB_BUILD=$build_dir SB_SHARE=$share \
SB_RPM=$rpm_version SB_TIMEOUT=$timeout_seconds \
    unshare --mount --propagation private \
    bash "$here/sandbox-root.sh" "${binds[@]}" -- "$@" </dev/null &
child=$!
trap 'kill -TERM "$child" 2>/dev/null || true' TERM INT HUP
status=0
wait "$child" || status=$?
while kill -0 "$child" 2>/dev/null; do
    status=0
    wait "$child" || status=$?
done
exit "$status"
