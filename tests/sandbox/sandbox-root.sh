#!/usr/bin/env bash
# Second stage of sandbox.sh, run inside its private mount namespace: builds
# the throwaway root (tmpfs, overlay of /, the host's /dev /proc /sys, a fresh
# /tmp, the bound directories and the share), makes name lookups use files
# only, and enters it with chroot to run sandbox-inside.sh.
#
# Arguments: BINDPATH... -- COMMAND [ARGS...]
# Environment from sandbox.sh: SB_BASE (empty host directory to mount the
# tmpfs on), SB_SOURCE, SB_BUILD, SB_SHARE, SB_RPM, SB_TIMEOUT.
set -euo pipefail

here=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)

binds=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    binds+=("$1")
    shift
done
shift

skip() {
    echo "sandbox unavailable: $*" >&2
    exit 77
}

setup_failed() {
    echo "sandbox.sh: $*" >&2
    exit 125
}

# Paths the sandbox itself binds: never reported as leaks.
own_mounts=""

# Mounts an existing host path (file or directory) at the same path in ROOT.
bind_same_path() {
    local path=$1
    own_mounts+="$path:"
    if [ -d "$path" ]; then
        mkdir -p "$root$path"
    else
        mkdir -p "$root$(dirname "$path")"
        [ -e "$root$path" ] || : >"$root$path"
    fi
    mount --bind "$path" "$root$path" || setup_failed "cannot bind $path"
}

# Upper and work directories of the overlay and its mount point, all in RAM.
mount -t tmpfs -o mode=0755 dm-sandbox "$SB_BASE" || skip "cannot mount a tmpfs"
mkdir "$SB_BASE/upper" "$SB_BASE/work" "$SB_BASE/root"
root=$SB_BASE/root
mount -t overlay dm-sandbox \
    -o "lowerdir=/,upperdir=$SB_BASE/upper,workdir=$SB_BASE/work" "$root" ||
    skip "cannot mount an overlay of /"

for dir in dev proc sys; do
    mount --rbind "/$dir" "$root/$dir" || setup_failed "cannot bind /$dir"
done
mount -t tmpfs -o mode=1777 dm-sandbox-tmp "$root/tmp" || setup_failed "cannot mount /tmp"

bind_same_path "$SB_SOURCE"
if [ -n "$SB_BUILD" ]; then
    bind_same_path "$SB_BUILD"
fi
for path in "${binds[@]}"; do
    bind_same_path "$path"
done
if [ -n "$SB_SHARE" ]; then
    mkdir -p "$root/share"
    mount --bind "$SB_SHARE" "$root/share" || setup_failed "cannot bind the share"
fi

# tripwire crashes in the systemd NSS module on ids without a name.
nsswitch=$root/etc/nsswitch.conf
if [ -f "$nsswitch" ]; then
    sed -i -E 's/^(passwd|group|shadow|gshadow):.*/\1: files/' "$nsswitch"
fi
for db in passwd group shadow gshadow; do
    grep -q "^$db:" "$nsswitch" 2>/dev/null || echo "$db: files" >>"$nsswitch"
done

# Devices of the filesystems that hold what the sandbox writes: a loop
# device backed by a file on one of them was set up by this sandbox. A file
# written through the overlay reports a device of its own when the layers
# sit on different filesystems, so a probe file tells it.
probe=$(mktemp "$root/etc/.dm-sandbox-probe.XXXXXX")
devices="$(stat -c '%Hd:%Ld' "$SB_BASE" "$root" "$probe" "$root/tmp" | sort -u | tr '\n' ' ')"
rm -f "$probe"

env_vars=(
    HOME=/root
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
    USER=root LOGNAME=root SHELL=/bin/bash
    "DM_SOURCE_DIR=$SB_SOURCE"
    "SB_HAVE_SHARE=$([ -n "$SB_SHARE" ] && echo 1 || echo 0)"
    "SB_SOURCE=$SB_SOURCE" "SB_BUILD=$SB_BUILD" "SB_RPM=$SB_RPM"
    "SB_TIMEOUT=$SB_TIMEOUT" "SB_DEVICES=$devices" "SB_OWN_MOUNTS=$own_mounts"
)
if [ -n "$SB_BUILD" ]; then
    env_vars+=("DM_BINARY_DIR=$SB_BUILD")
fi
if [ -n "${DM_APPLYKESTRO:-}" ]; then
    env_vars+=("DM_APPLYKESTRO=$DM_APPLYKESTRO")
fi

exec chroot "$root" /usr/bin/env -i "${env_vars[@]}" \
    /bin/bash "$here/sandbox-inside.sh" "$@"
