#!/usr/bin/env bash
# Leak report of a sandbox run, run inside the sandbox after the command:
# lists every mount left under /tftpboot, /tmp, /var/maint or /var/log/maint
# (the sandbox's own /tmp excepted) and every loop device backed by a file
# that the sandbox wrote, then unmounts and detaches them so that the host
# keeps nothing.
#
# Arguments: REPORT DEVICE...
#   REPORT  file to write the report to (emptied when clean), or - for stderr
#   DEVICE  major:minor of a filesystem holding the sandbox's writes; loop
#           devices are global, so only those backed by these are ours
# Report lines: "mount TARGET SOURCE FSTYPE" and "loop DEVICE BACKING-FILE".
set -uo pipefail

report=$1
shift
devices=" $* "

leaked_mounts() {
    awk -v own="${SB_OWN_MOUNTS:-}" '
        BEGIN { n = split(own, list, ":"); for (i = 1; i <= n; i++) if (list[i] != "") mine[list[i]] = 1 }
        $2 ~ /^\/(tftpboot|tmp|var\/maint|var\/log\/maint)(\/|$)/ &&
        !($2 == "/tmp" && $1 == "dm-sandbox-tmp") && !($2 in mine) { print $2, $1, $3 }' /proc/self/mounts
}

# NAME MAJ:MIN INODE FILE of the loop devices backed by the sandbox's files.
leaked_loops() {
    losetup --list --noheadings --output NAME,BACK-MAJ:MIN,BACK-INO,BACK-FILE 2>/dev/null |
        while read -r name backing inode file; do
            case "$devices" in
                *" $backing "*) echo "$name $backing $inode $file" ;;
            esac
        done
}

mounts=$(leaked_mounts)
loops=$(leaked_loops)

text=""
if [ -n "$mounts" ]; then
    text+=$(sed 's/^/mount /' <<<"$mounts")$'\n'
fi
if [ -n "$loops" ]; then
    text+=$(while read -r name _ _ file; do echo "loop $name $file"; done <<<"$loops")$'\n'
fi
if [ "$report" = - ]; then
    [ -z "$text" ] || printf 'sandbox leaks:\n%s' "$text" >&2
else
    printf '%s' "$text" >"$report"
fi

# Innermost mounts first; /proc/self/mounts lists them in mount order.
if [ -n "$mounts" ]; then
    tac <<<"$mounts" | while read -r target _; do
        target=$(printf '%b' "$target")
        umount "$target" 2>/dev/null || umount -l "$target" 2>/dev/null || true
    done
fi

# Unmounting frees auto-clearing devices; detach the rest. A device is
# checked again right before it is detached, as a freed one may have been
# taken by someone else meanwhile.
leaked_loops | while read -r name backing inode _; do
    now=$(losetup --list --noheadings --output BACK-MAJ:MIN,BACK-INO "$name" 2>/dev/null | xargs)
    if [ "$now" = "$backing $inode" ]; then
        losetup -d "$name" 2>/dev/null || true
    fi
done
exit 0
