#!/usr/bin/env bash
# Throwaway root of the end-to-end tests: runs a command as root where the
# tool's fixed paths (/var/maint, /var/log/maint, /tftpboot, /tmp/maint_zor,
# /etc/inittab, /etc/logrotate.d, /root/.rpmdb, /usr) may be written freely.
#
#   root.sh [-r VERSION] [-t SECONDS] SHARE COMMAND...
#   root.sh --check             exit 0 when this machine can make a root, else 77
#   root.sh --standin VERSION   (inside a root) register tripwire-VERSION with rpm
#
# The command runs in a private mount namespace, chrooted into an overlay of
# / whose upper layer is a tmpfs (on a directory made in $DM_ROOTS, default
# /tmp), with the host's /dev, /proc and /sys, a fresh /tmp, SHARE bound at
# /share (the working directory), the source and build trees bound at their
# own paths ($DM_SOURCE_DIR, $DM_BINARY_DIR), HOME=/root, stdin /dev/null,
# name lookups from files only (tripwire dies in the systemd NSS module on
# ids without a name) and, with -r, the files-less package
# tripwire-VERSION-2.noarch in rpm's database (Debian's tripwire is no rpm;
# the tool asks rpm for its version).  -t ends the command after SECONDS
# (status 124).  Afterwards every mount left under the tool's paths and every
# loop device backed by a file of this root is listed in SHARE/.leaks
# ("mount TARGET", "loop DEVICE FILE") and undone.
# Exit status: the command's; 77 (reason on stderr) when no root can be made.
set -uo pipefail
self=$(readlink -f "${BASH_SOURCE[0]}")
src=${self%/tests/e2e/root.sh}
build=${DM_BINARY_DIR:-$src/build}

standin() {
    local cache=$build/fixtures/rpm pkg=tripwire-$1-2.noarch.rpm top
    mkdir -p "$cache" && exec 9>>"$cache/.lock" && flock 9 || return 1
    if [ ! -s "$cache/$pkg" ]; then
        top=$(mktemp -d)
        printf '%s\n' 'Name: tripwire' "Version: $1" 'Release: 2' 'Summary: tripwire stand-in' \
            'License: GPL' 'BuildArch: noarch' '%description' 'Registers tripwire.' '%files' >"$top/tripwire.build"
        rpmbuild -bb --quiet --define "_topdir $top" "$top/tripwire.build" >"$top/log" 2>&1 &&
            cp "$top/RPMS/noarch/$pkg" "$cache/$pkg" || { cat "$top/log" >&2; return 1; }
        rm -rf "$top"
    fi
    exec 9>&-
    rpm -i --justdb --nodeps "$cache/$pkg" 2>/dev/null
}

check() {
    [ "$(id -u)" = 0 ] || { echo "not running as root" >&2; return 77; }
    grep -qw overlay /proc/filesystems || modprobe -q overlay || { echo "no overlay filesystem" >&2; return 77; }
    unshare --mount true || { echo "cannot make a mount namespace" >&2; return 77; }
    losetup -f >/dev/null || { echo "no free loop device" >&2; return 77; }
    command -v rpmbuild >/dev/null || { echo "rpmbuild is not installed" >&2; return 77; }
}

# Mounts left under the tool's paths (those this script made excepted), and
# loop devices whose backing file lies on this root's own filesystems.
leaks() {
    awk -v own=" $DM_OWN " 'index(own, " " $2 " ") == 0 && $2 != "/tmp" &&
        $2 ~ /^\/(tftpboot|tmp|var\/maint|var\/log\/maint|var\/tmp\/makeKestroBundle)/ { print "mount", $2 }' /proc/self/mounts
    losetup -nl -O NAME,BACK-MAJ:MIN,BACK-FILE | while read -r dev at file; do
        case " $DM_DEVS " in *" $at "*) echo "loop $dev $file" ;; esac
    done
}

case "${1:-}" in
--check) check; exit ;;
--standin) standin "$2"; exit ;;
--inside)
    if [ "$2" != none ]; then standin "$2" || { echo "root.sh: no rpm stand-in $2" >&2; exit 125; }; fi
    cd /share || exit 125
    timeout -k 5 "$3" "${@:4}" </dev/null &
    child=$!
    wait "$child" 2>/dev/null
    status=$?
    kill -KILL -- "-$child" 2>/dev/null
    # A loop device is freed when its last user has gone: allow it a moment.
    for _ in $(seq 30); do [ -z "$(leaks)" ] && break; sleep 0.1; done
    leaks >/share/.leaks
    awk '$1 == "mount" { print $2 }' /share/.leaks | tac | xargs -r -n1 umount -l
    awk '$1 == "loop" { print $2 }' /share/.leaks | xargs -r -n1 losetup -d
    exit "$status" ;;
--ns)
    base=$2 share=$3 r=$2/root
    shift 3
    mount -t tmpfs -o mode=0755 dm-root "$base" && mkdir "$base/up" "$base/work" "$r" &&
        mount -t overlay dm-root -o "lowerdir=/,upperdir=$base/up,workdir=$base/work" "$r" ||
        { echo "cannot make the overlay root" >&2; exit 77; }
    for d in dev proc sys; do mount --rbind "/$d" "$r/$d"; done
    mount -t tmpfs -o mode=1777 dm-tmp "$r/tmp"
    own=""
    for d in "$src" "$build"; do
        [ -d "$d" ] && mkdir -p "$r$d" && mount --bind "$d" "$r$d" && own+=" $d"
    done
    mkdir -p "$r/share" && mount --bind "$share" "$r/share"
    sed -i -E 's/^(passwd|group|shadow|gshadow):.*/\1: files/' "$r/etc/nsswitch.conf"
    probe=$(mktemp "$r/etc/.probe.XXXXXX")
    devs=$(stat -c '%Hd:%Ld' "$base" "$probe" "$r/tmp" | sort -u | xargs)
    rm -f "$probe"
    exec chroot "$r" /usr/bin/env -i HOME=/root USER=root LOGNAME=root SHELL=/bin/bash \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin DM_SOURCE_DIR="$src" \
        DM_BINARY_DIR="$build" DM_OWN="$own" DM_DEVS="$devs" DM_TOOL_WRAPPER="${DM_TOOL_WRAPPER:-}" \
        bash "$self" --inside "$@" ;;
esac

rpm=none seconds=600
while getopts r:t: opt; do
    case $opt in r) rpm=$OPTARG ;; t) seconds=$OPTARG ;; *) exit 2 ;; esac
done
shift $((OPTIND - 1))
[ $# -ge 2 ] || { echo "usage: root.sh [-r VERSION] [-t SECONDS] SHARE COMMAND..." >&2; exit 2; }
check || exit
share=$(readlink -f "$1")
shift
base=$(mktemp -d "${DM_ROOTS:-/tmp}/dm-root.XXXXXX") || exit 77
unshare --mount --propagation private bash "$self" --ns "$base" "$share" "$rpm" "$seconds" "$@"
status=$?
rmdir "$base"
exit "$status"
